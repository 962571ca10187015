// The main window's operator commands that open dialogs or act on the
// server's caches and lists.
#include <QColorDialog>
#include <QDockWidget>
#include <QFontDialog>
#include <QMenuBar>

#include "console/accounts_dialog.h"
#include "console/cache_contents_view.h"
#include "console/configure_dialog.h"
#include "console/filter_editor.h"
#include "console/help_topics.h"
#include "console/main_window.h"
#include "console/monitor_pane.h"
#include "console/qt_operator_view.h"
#include "console/statistics_bar.h"
#include "console/user_list_widget.h"

namespace talvek::console {

void MainWindow::connectCommands() {
  connect(actions_.start_stop, &QAction::triggered, this, &MainWindow::toggleServer);
  connect(actions_.toolbar_toggle, &QAction::triggered, this, &MainWindow::toggleServer);
  connect(actions_.configure, &QAction::triggered, this, &MainWindow::configure);
  connect(actions_.accounts, &QAction::triggered, this, &MainWindow::showAccounts);
  connect(actions_.filter, &QAction::triggered, this, &MainWindow::showFilterEditor);
  connect(actions_.clear_directory_cache, &QAction::triggered, this, [this] { server_.directoryCache().clear(); });
  connect(actions_.clear_file_cache, &QAction::triggered, this, [this] { server_.fileCache().clear(); });
  connect(actions_.cache_contents, &QAction::triggered, this, &MainWindow::showCacheContents);
  connect(actions_.user_list, &QAction::triggered, user_dock_, &QWidget::setVisible);
  connect(actions_.monitor, &QAction::triggered, monitor_, &QWidget::setVisible);
  connect(actions_.statistics, &QAction::triggered, statistics_dock_, &QWidget::setVisible);
  connect(actions_.monitor_font, &QAction::triggered, this, &MainWindow::chooseMonitorFont);
  connect(actions_.help_topics, &QAction::triggered, this, [this] { OpenHelpTopics(program_directory_, this); });
  connect(actions_.exit, &QAction::triggered, this, &MainWindow::requestExit);
  // Every menu shows the state as it is when it opens.
  for (QMenu* menu : menuBar()->findChildren<QMenu*>())
    connect(menu, &QMenu::aboutToShow, this, [this] {
      syncServerState();
      syncViewChecks();
    });
}

void MainWindow::configure() {
  if (focusModalDialog() || !RunConfigureFlow(server_, store_, this)) return;
  // The new settings decide the graph colours.
  statistics_->loadColors();
}

void MainWindow::showAccounts() {
  if (!focusModalDialog()) ShowAccountsDialog(server_, this);
}

void MainWindow::showFilterEditor() {
  if (!focusModalDialog()) ShowFilterEditor(server_, this);
}

void MainWindow::showCacheContents() { ShowCacheContents(server_, this); }

void MainWindow::refreshUserList() {
  user_list_->refresh();
  syncServerState();
}

void MainWindow::chooseMonitorFont() {
  bool chosen = false;
  QFont font = QFontDialog::getFont(&chosen, look_.font, this, tr("Monitor Font"));
  if (!chosen) return;
  QColor color = QColorDialog::getColor(look_.color, this, tr("Monitor Text Colour"));
  if (!color.isValid()) color = look_.color;
  applyMonitorLook({font, color});
  settings::SaveChangeOverDisk(store_, [&](settings::RegistryStore& store) { WriteMonitorLook(store, look_); });
}

void MainWindow::applyMonitorLook(const MonitorLook& look) {
  look_ = look;
  monitor_->setMonitorFont(look.font, look.color);
  user_list_->setMonitorFont(look.font, look.color);
  statistics_->setTextFont(look.font);
}

}  // namespace talvek::console
