// The daemon's operator view: event lines and status texts on stdout,
// message boxes on stderr. Safe to call from any thread. For a journal,
// which stamps each line itself, lines lose their own time stamp and the
// blank separator lines.
#pragma once

#include <mutex>

#include "server/operator_view.h"

namespace talvek::app {

class DaemonView : public server::OperatorView {
 public:
  explicit DaemonView(bool for_journal = false) : for_journal_(for_journal) {}
  void setStatusText(const std::string& text) override;
  void showMessage(const std::string& text, const std::string& caption, server::MessageIcon icon) override;
  void setTitle(const std::string&) override {}
  void userListChanged() override {}
  void appendMonitorText(const std::string& text) override;

 private:
  void write(const std::string& text);  // with mutex_ held

  std::mutex mutex_;
  const bool for_journal_;
  bool at_line_start_ = true;
};

}  // namespace talvek::app
