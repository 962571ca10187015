#include "console/user_list_widget.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMessageBox>

#include "console/user_info_window.h"

namespace talvek::console {

namespace {

bool AskWithMessageBox(QWidget* parent, const QString& question) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("Talvek FTP"), question,
                  QMessageBox::Ok | QMessageBox::Cancel, parent);
  return box.exec() == QMessageBox::Ok;
}

QString Text(const std::string& text) { return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())); }

}  // namespace

UserListWidget::UserListWidget(server::Server& server, QWidget* parent)
    : QListWidget(parent), server_(server), desk_(server), confirm_(AskWithMessageBox) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  connect(this, &QListWidget::itemDoubleClicked, this, [this] {
    remembered_ = selectedId();
    showUserInfo();
  });
}

void UserListWidget::refresh() {
  auto selected = selectedId();
  clear();
  ids_.clear();
  for (const auto& [id, name, encrypted] : desk_.connections()) {
    addItem(Text(encrypted ? name + " (TLS)" : name));
    ids_.push_back(id);
    if (id == selected) setCurrentRow(count() - 1);
  }
}

void UserListWidget::setMonitorFont(const QFont& font, const QColor& colour) {
  monitor_font_ = font;
  monitor_colour_ = colour;
  for (auto* window : findChildren<UserInfoWindow*>()) window->setMonitorFont(font, colour);
}

server::ConnectionId UserListWidget::selectedId() const {
  auto selection = selectedItems();
  if (selection.isEmpty()) return 0;
  int row = this->row(selection.front());
  return row >= 0 && row < static_cast<int>(ids_.size()) ? ids_[row] : 0;
}

bool UserListWidget::banAvailable() const {
  auto general = server_.settings().general;
  return general.filterEnabled != 0 && general.blockListed == 1;
}

std::unique_ptr<QMenu> UserListWidget::buildMenu() {
  auto id = selectedId();
  if (id == 0) return nullptr;
  remembered_ = id;
  // A connection gone since the last refresh shows its switches off.
  UserSnapshot user = desk_.snapshot(id).value_or(UserSnapshot{});

  auto menu = std::make_unique<QMenu>();
  QAction* monitor = menu->addAction(QStringLiteral("Monitor"), this, &UserListWidget::toggleMonitor);
  monitor->setCheckable(true);
  monitor->setChecked(user.monitor);
  QAction* keep = menu->addAction(QStringLiteral("Keep file list"), this, &UserListWidget::toggleFileLists);
  keep->setCheckable(true);
  keep->setChecked(user.file_lists);
  if (user.file_lists) menu->addAction(QStringLiteral("Show file list"), this, &UserListWidget::showFileList);
  menu->addAction(QStringLiteral("Show user info"), this, &UserListWidget::showUserInfo);
  menu->addSeparator();
  if (banAvailable()) menu->addAction(QStringLiteral("Ban"), this, &UserListWidget::banHost);
  menu->addAction(QStringLiteral("Disconnect"), this, &UserListWidget::disconnectUser);
  return menu;
}

void UserListWidget::contextMenuEvent(QContextMenuEvent* event) {
  if (auto menu = buildMenu()) menu->exec(event->globalPos());
}

void UserListWidget::toggleMonitor() { desk_.toggleMonitor(remembered_); }

void UserListWidget::toggleFileLists() { desk_.toggleFileLists(remembered_); }

UserInfoWindow* UserListWidget::openWindow(UserSnapshot user) {
  auto* window = new UserInfoWindow(std::move(user), this);
  window->setWindowFlag(Qt::Window);
  window->setMonitorFont(monitor_font_, monitor_colour_);
  return window;
}

void UserListWidget::showFileList() {
  auto user = desk_.snapshot(remembered_);
  if (!user) return;
  UserInfoWindow* window = openWindow(std::move(*user));
  window->appendFileLists();
  window->show();
}

void UserListWidget::showUserInfo() {
  auto user = desk_.snapshot(remembered_);
  if (!user) return;
  UserInfoWindow* window = openWindow(std::move(*user));
  window->showUserInformation();
  window->show();
}

// Both questions work on a copy while they wait for the operator: the
// connection may end meanwhile, and the close then finds nothing to do.
void UserListWidget::disconnectUser() {
  auto user = desk_.snapshot(remembered_);
  if (!user) return;
  if (!confirm_(this, QStringLiteral("Disconnect user ") + Text(user->display_name) + QStringLiteral("?"))) return;
  desk_.disconnect(user->id);
}

void UserListWidget::banHost() {
  auto user = desk_.snapshot(remembered_);
  if (!user) return;
  if (!confirm_(this, QStringLiteral("Ban host ") + Text(user->display_name) + QStringLiteral("?"))) return;
  desk_.ban(*user);
}

}  // namespace talvek::console
