// The operator's main window: menus and toolbar for the operator commands,
// the monitor pane in the middle, docks for the user list and statistics,
// the status text and the tray icon. It mirrors
// the server's state and calls into it; it owns none of server, view or store.
#pragma once

#include <filesystem>
#include <memory>

#include <QMainWindow>

#include "console/console_actions.h"
#include "console/console_settings.h"
#include "server/server.h"
#include "settings/registry_store.h"

class QDockWidget;
class QLabel;

namespace talvek::console {

class MonitorPane;
class QtOperatorView;
class StatisticsBar;
class TrayIcon;
class UserListWidget;

inline constexpr const char* kAppTitle = "Talvek FTP";

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // Runs the first-start import when due and restores the window layout;
  // the server need not be initialised yet.
  MainWindow(server::Server& server, QtOperatorView& view, settings::RegistryStore& store,
             std::filesystem::path program_directory, QWidget* parent = nullptr);
  ~MainWindow() override;

  // After the server's initialisation: loads the graph colours, adds the tray icon
  // and mirrors the state; `to_background` ("/b") then sends the window away.
  void serverInitialised(bool to_background);

  const ConsoleActions& actions() const { return actions_; }
  QString statusText() const;
  // The tray tip for the state now (also when there is no tray).
  QString trayTip() const;
  bool hasTray() const { return tray_ != nullptr; }
  MonitorPane& monitorPane() { return *monitor_; }
  StatisticsBar& statisticsBar() { return *statistics_; }
  QDockWidget& userListDock() { return *user_dock_; }
  UserListWidget& userList() { return *user_list_; }
  QDockWidget& statisticsDock() { return *statistics_dock_; }
  MonitorLook monitorLook() const { return look_; }

 signals:
  // The window really closed (not just hidden): the program may end.
  void closed();

 public slots:
  void toggleServer();
  // Menu text, toolbar button, icons and tray tip from the server state.
  void syncServerState();
  // Ends the program even when closing would only send it to the background.
  void exitProgram();
  // "Exit" of the menu and the tray: raises a running modal dialog instead.
  void requestExit();
  void showFromBackground();
  void applyMonitorLook(const MonitorLook& look);
  void configure();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildDocks();
  void connectView();
  void connectCommands();
  void sendToBackground();
  // Raises the modal dialog that runs, if any: a second dialog on the same
  // store, or an exit under it, must not start. True when one runs.
  bool focusModalDialog();
  void showServerMessage(const QString& text, const QString& caption, int icon);
  void refreshUserList();
  void syncViewChecks();
  void chooseMonitorFont();
  void showAccounts();
  void showFilterEditor();
  void showCacheContents();

  server::Server& server_;
  QtOperatorView& view_;
  settings::RegistryStore& store_;
  std::filesystem::path program_directory_;
  ConsoleActions actions_;
  MonitorPane* monitor_ = nullptr;
  StatisticsBar* statistics_ = nullptr;
  QDockWidget* user_dock_ = nullptr;
  QDockWidget* statistics_dock_ = nullptr;
  UserListWidget* user_list_ = nullptr;
  QLabel* status_label_ = nullptr;
  std::unique_ptr<TrayIcon> tray_;
  MonitorLook look_;
  bool exiting_ = false;
  bool told_minimised_ = false;
};

}  // namespace talvek::console
