// What the operator sees of the server, as one narrow interface: the
// headless daemon prints it, the console shows it in its windows. Calls may
// come from any thread; implementations hand them to their own thread.
#pragma once

#include <string>

namespace talvek::server {

enum class MessageIcon { Information, Warning, Error };

class OperatorView {
 public:
  virtual ~OperatorView() = default;
  virtual void setStatusText(const std::string& text) = 0;
  virtual void showMessage(const std::string& text, const std::string& caption, MessageIcon icon) = 0;
  virtual void setTitle(const std::string& title) = 0;
  // The connection registry changed (a connection was added or removed).
  virtual void userListChanged() = 0;
  // Text for the monitor pane, already formatted with its line ends.
  virtual void appendMonitorText(const std::string& text) = 0;
};

// A view that shows nothing, for tests and tools.
class SilentView : public OperatorView {
 public:
  void setStatusText(const std::string&) override {}
  void showMessage(const std::string&, const std::string&, MessageIcon) override {}
  void setTitle(const std::string&) override {}
  void userListChanged() override {}
  void appendMonitorText(const std::string&) override {}
};

}  // namespace talvek::server
