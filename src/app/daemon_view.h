// The daemon's operator view: event lines and status texts on stdout,
// message boxes on stderr. Safe to call from any thread.
#pragma once

#include <mutex>

#include "server/operator_view.h"

namespace talvek::app {

class DaemonView : public server::OperatorView {
 public:
  void setStatusText(const std::string& text) override;
  void showMessage(const std::string& text, const std::string& caption, server::MessageIcon icon) override;
  void setTitle(const std::string&) override {}
  void userListChanged() override {}
  void appendMonitorText(const std::string& text) override;

 private:
  std::mutex mutex_;
};

}  // namespace talvek::app
