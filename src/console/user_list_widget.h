// The connected clients, one line per connection showing its display name,
// with the operator's popup menu per connection (monitor, file lists, user
// info, ban, disconnect). Lines hold weak references: the server owns the
// records. User information windows it opens are its children.
#pragma once

#include <QColor>
#include <QFont>
#include <QListWidget>

#include <functional>
#include <memory>
#include <vector>

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
  // The popup menu for the selected line, acting on its record from now on;
  // null when no line is selected.
  std::unique_ptr<QMenu> buildMenu();

 public slots:
  // Rebuilds the lines from the registry, keeping the selected connection.
  void refresh();
  void setMonitorFont(const QFont& font, const QColor& colour);

  // The menu commands, on the record remembered when the menu was built.
  void toggleMonitor();
  void toggleFileLists();
  void showFileList();
  void showUserInfo();
  void disconnectUser();
  void banHost();

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  std::shared_ptr<server::ConnectionRecord> selectedRecord() const;
  UserInfoWindow* openWindow(const std::shared_ptr<server::ConnectionRecord>& record);
  bool banAvailable() const;

  server::Server& server_;
  Confirm confirm_;
  std::vector<std::weak_ptr<server::ConnectionRecord>> records_;  // by row
  std::weak_ptr<server::ConnectionRecord> remembered_;
  QFont monitor_font_;
  QColor monitor_colour_ = Qt::black;
};

}  // namespace talvek::console
