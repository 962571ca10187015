#include "console/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDockWidget>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QSystemTrayIcon>

#include "console/first_start.h"
#include "console/help_topics.h"
#include "console/monitor_pane.h"
#include "console/qt_operator_view.h"
#include "console/statistics_bar.h"
#include "console/tray_icon.h"
#include "console/user_list_widget.h"
#include "console/window_placement.h"

namespace talvek::console {

MainWindow::MainWindow(server::Server& server, QtOperatorView& view, settings::RegistryStore& store,
                       std::filesystem::path program_directory, QWidget* parent)
    : QMainWindow(parent),
      server_(server),
      view_(view),
      store_(store),
      program_directory_(std::move(program_directory)) {
  setObjectName("mainWindow");
  setWindowTitle(QString::fromLatin1(kAppTitle));
  setWindowIcon(ServerStateIcon(false));
  resize(760, 520);
  RunFirstStartWithNotice(store_, program_directory_, this);

  actions_ = CreateConsoleActions(*this);
  monitor_ = new MonitorPane(this);
  setCentralWidget(monitor_);
  buildDocks();
  status_label_ = new QLabel(tr("Server inactive"), this);
  status_label_->setObjectName("statusText");
  statusBar()->addWidget(status_label_, 1);

  applyMonitorLook(ReadMonitorLook(store_));
  RestorePlacement(*this, *user_dock_, *statistics_dock_, store_);
  connectView();
  connectCommands();
  syncViewChecks();
  syncServerState();
}

MainWindow::~MainWindow() = default;

void MainWindow::buildDocks() {
  user_list_ = new UserListWidget(server_, this);
  user_list_->setObjectName("userList");
  user_dock_ = new QDockWidget(tr("User List"), this);
  user_dock_->setObjectName("userListDock");
  user_dock_->setWidget(user_list_);
  addDockWidget(Qt::LeftDockWidgetArea, user_dock_);

  statistics_ = new StatisticsBar(server_, this);
  statistics_dock_ = new QDockWidget(tr("Statistics"), this);
  statistics_dock_->setObjectName("statisticsDock");
  statistics_dock_->setWidget(statistics_);
  addDockWidget(Qt::BottomDockWidgetArea, statistics_dock_);
}

void MainWindow::connectView() {
  connect(&view_, &QtOperatorView::statusTextChanged, this, [this](const QString& text) {
    status_label_->setText(text);
    // Status texts follow every start, failed start and stop.
    syncServerState();
  });
  connect(&view_, &QtOperatorView::titleChanged, this, [this](const QString& title) {
    setWindowTitle(title);
    syncServerState();
  });
  connect(&view_, &QtOperatorView::userListChanged, this, &MainWindow::refreshUserList);
  connect(&view_, &QtOperatorView::messageRequested, this, &MainWindow::showServerMessage);
  connect(&view_, &QtOperatorView::monitorTextAppended, monitor_, &MonitorPane::appendMonitorText);
}

void MainWindow::serverInitialised(bool to_background) {
  statistics_->loadColors();
  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    tray_ = std::make_unique<TrayIcon>([this] {
      return TrayMenuState{server_.active(), isHidden(), QApplication::activeModalWidget() != nullptr};
    });
    connect(tray_.get(), &TrayCommands::toggleRequested, this, &MainWindow::toggleServer);
    connect(tray_.get(), &TrayCommands::configureRequested, this, &MainWindow::configure);
    connect(tray_.get(), &TrayCommands::accountsRequested, this, &MainWindow::showAccounts);
    connect(tray_.get(), &TrayCommands::filterRequested, this, &MainWindow::showFilterEditor);
    connect(tray_.get(), &TrayCommands::openRequested, this, &MainWindow::showFromBackground);
    connect(tray_.get(), &TrayCommands::exitRequested, this, &MainWindow::requestExit);
  }
  syncServerState();
  if (to_background) sendToBackground();
}

void MainWindow::toggleServer() {
  server_.toggleActive();
  syncServerState();
}

void MainWindow::syncServerState() {
  const bool active = server_.active();
  actions_.start_stop->setText(StartStopLabel(active));
  actions_.toolbar_toggle->setChecked(active);
  actions_.toolbar_toggle->setIcon(ServerStateIcon(active));
  setWindowIcon(ServerStateIcon(active));
  if (tray_) tray_->update(QString::fromLatin1(kAppTitle), active, server_.connectionCount());
}

QString MainWindow::statusText() const { return status_label_->text(); }

QString MainWindow::trayTip() const {
  return TrayTipText(QString::fromLatin1(kAppTitle), server_.active(), server_.connectionCount());
}

void MainWindow::syncViewChecks() {
  actions_.user_list->setChecked(!user_dock_->isHidden());
  actions_.monitor->setChecked(!monitor_->isHidden());
  actions_.statistics->setChecked(!statistics_dock_->isHidden());
}

void MainWindow::showServerMessage(const QString& text, const QString& caption, int icon) {
  auto kind = static_cast<server::MessageIcon>(icon);
  QMessageBox::Icon shown = kind == server::MessageIcon::Error     ? QMessageBox::Critical
                            : kind == server::MessageIcon::Warning ? QMessageBox::Warning
                                                                   : QMessageBox::Information;
  // Not modal: the server's messages must not stop the window mirroring it.
  auto* box = new QMessageBox(shown, caption, text, QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

void MainWindow::exitProgram() {
  exiting_ = true;
  close();
}

bool MainWindow::focusModalDialog() {
  QWidget* modal = QApplication::activeModalWidget();
  if (!modal) return false;
  modal->raise();
  modal->activateWindow();
  return true;
}

void MainWindow::requestExit() {
  if (!focusModalDialog()) exitProgram();
}

void MainWindow::showFromBackground() {
  showNormal();
  raise();
  activateWindow();
}

void MainWindow::sendToBackground() {
  if (tray_) {
    hide();
    return;
  }
  // Hidden without a tray icon the window could never be brought back.
  showMinimized();
  if (!told_minimised_) {
    told_minimised_ = true;
    statusBar()->showMessage(tr("No system tray available: Talvek FTP keeps running, minimised"), 15000);
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!exiting_ && server_.settings().general.runInBackground) {
    event->ignore();
    sendToBackground();
    return;
  }
  SavePlacement(*this, *user_dock_, *statistics_dock_, store_);
  statistics_dock_->hide();  // stops the sampling timer
  event->accept();
  emit closed();
}

}  // namespace talvek::console
