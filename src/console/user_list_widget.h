// The connected clients, one line per connection showing its display name,
// with the operator's popup menu per connection (monitor, file lists, user
// info, ban, disconnect). Lines hold connection ids from the server's
// operator desk. User information windows it opens are its children.
#pragma once

#include <QColor>
#include <QFont>
#include <QListWidget>

#include <functional>
#include <memory>
#include <vector>

#include "console/user_snapshot.h"
#include "server/operator_desk.h"
#include "server/server.h"

class QMenu;

namespace talvek::console {

class UserInfoWindow;

class UserListWidget : public QListWidget {
  Q_OBJECT

 public:
  // Asks OK (true) or Cancel (false).
  using Confirm = std::function<bool(QWidget* parent, const QString& question)>;

  UserListWidget(server::Server& server, QWidget* parent);

  void setConfirm(Confirm confirm) { confirm_ = std::move(confirm); }
  // The popup menu for the selected line, acting on its connection from now on;
  // null when no line is selected.
  std::unique_ptr<QMenu> buildMenu();

 public slots:
  // Rebuilds the lines from the registry, keeping the selected connection.
  void refresh();
  void setMonitorFont(const QFont& font, const QColor& colour);

  // The menu commands, on the connection remembered when the menu was built.
  void toggleMonitor();
  void toggleFileLists();
  void showFileList();
  void showUserInfo();
  void disconnectUser();
  void banHost();

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  server::ConnectionId selectedId() const;
  UserInfoWindow* openWindow(UserSnapshot user);
  bool banAvailable() const;

  server::Server& server_;
  server::OperatorDesk desk_;
  Confirm confirm_;
  std::vector<server::ConnectionId> ids_;  // by row
  server::ConnectionId remembered_ = 0;
  QFont monitor_font_;
  QColor monitor_colour_ = Qt::black;
};

}  // namespace talvek::console
