#include "console/user_list_widget.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMessageBox>

#include <cstring>

#include "console/user_info_window.h"
#include "console/user_snapshot.h"
#include "filter/filter_file.h"

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
    : QListWidget(parent), server_(server), confirm_(AskWithMessageBox) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  connect(this, &QListWidget::itemDoubleClicked, this, [this] {
    remembered_ = selectedRecord();
    showUserInfo();
  });
}

void UserListWidget::refresh() {
  auto selected = selectedRecord();
  clear();
  records_.clear();
  for (const auto& record : server_.registrySnapshot()) {
    std::string name;
    {
      server::GateHold hold(record->gate);
      name = record->displayName();
    }
    if (record->tls_control) name += " (TLS)";
    addItem(Text(name));
    records_.push_back(record);
    if (record == selected) setCurrentRow(count() - 1);
  }
}

void UserListWidget::setMonitorFont(const QFont& font, const QColor& colour) {
  monitor_font_ = font;
  monitor_colour_ = colour;
  for (auto* window : findChildren<UserInfoWindow*>()) window->setMonitorFont(font, colour);
}

std::shared_ptr<server::ConnectionRecord> UserListWidget::selectedRecord() const {
  auto selection = selectedItems();
  if (selection.isEmpty()) return nullptr;
  int row = this->row(selection.front());
  return row >= 0 && row < static_cast<int>(records_.size()) ? records_[row].lock() : nullptr;
}

bool UserListWidget::banAvailable() const {
  auto general = server_.settings().general;
  return general.filterEnabled != 0 && general.blockListed == 1;
}

std::unique_ptr<QMenu> UserListWidget::buildMenu() {
  auto record = selectedRecord();
  if (!record) return nullptr;
  remembered_ = record;
  UserSnapshot user = TakeSnapshot(server_, record);

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

void UserListWidget::toggleMonitor() {
  if (LiveRecord(server_, remembered_)) ToggleMonitor(server_, remembered_);
}

void UserListWidget::toggleFileLists() {
  if (LiveRecord(server_, remembered_)) ToggleFileLists(server_, remembered_);
}

UserInfoWindow* UserListWidget::openWindow(const std::shared_ptr<server::ConnectionRecord>& record) {
  auto* window = new UserInfoWindow(TakeSnapshot(server_, record), this);
  window->setWindowFlag(Qt::Window);
  window->setMonitorFont(monitor_font_, monitor_colour_);
  return window;
}

void UserListWidget::showFileList() {
  auto record = LiveRecord(server_, remembered_);
  if (!record) return;
  UserInfoWindow* window = openWindow(record);
  window->appendFileLists();
  window->show();
}

void UserListWidget::showUserInfo() {
  auto record = LiveRecord(server_, remembered_);
  if (!record) return;
  UserInfoWindow* window = openWindow(record);
  window->showUserInformation();
  window->show();
}

// Neither question holds the record while it waits for the operator: the
// connection may end meanwhile, and the close then finds nothing to do.
void UserListWidget::disconnectUser() {
  auto record = LiveRecord(server_, remembered_);
  if (!record) return;
  QString question = QStringLiteral("Disconnect user ") + Text(record->displayName()) + QStringLiteral("?");
  record.reset();
  if (!confirm_(this, question)) return;
  server_.post(ftp::ControlMessage::Close(remembered_));
}

void UserListWidget::banHost() {
  auto record = LiveRecord(server_, remembered_);
  if (!record) return;
  // The address the connection came from, never the name: admission
  // matches the entries against dotted addresses.
  std::string address = ConnectionAddress(*record);
  QString question = QStringLiteral("Ban host ") + Text(record->displayName()) + QStringLiteral("?");
  record.reset();
  if (!confirm_(this, question)) return;
  auto file = server_.filtersFile();
  if (int error = filter::AppendAndSave(file, server_.filterList(), address))
    server_.view().showMessage("Cannot write " + file.string() + ": " + std::strerror(error), "Talvek FTP",
                               server::MessageIcon::Warning);
  server_.post(ftp::ControlMessage::Close(remembered_));
}

}  // namespace talvek::console
