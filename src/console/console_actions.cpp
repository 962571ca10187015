#include "console/console_actions.h"

#include <QMenuBar>
#include <QToolBar>

#include "console/tray_icon.h"

namespace talvek::console {

QString StartStopLabel(bool active) {
  return active ? QObject::tr("Stop FTP Server") : QObject::tr("Start FTP Server");
}

namespace {

QAction* Make(QMainWindow& window, const QString& label, const char* name) {
  auto* action = new QAction(label, &window);
  action->setObjectName(QString::fromLatin1(name));
  return action;
}

QAction* MakeCheckable(QMainWindow& window, const QString& label, const char* name) {
  QAction* action = Make(window, label, name);
  action->setCheckable(true);
  action->setChecked(true);
  return action;
}

void BuildMenus(QMainWindow& window, const ConsoleActions& a) {
  QMenu* file = window.menuBar()->addMenu(QObject::tr("&File"));
  file->addAction(a.start_stop);
  file->addSeparator();
  file->addAction(a.exit);

  QMenu* server = window.menuBar()->addMenu(QObject::tr("&Server"));
  server->setObjectName("serverMenu");
  server->addAction(a.configure);
  server->addAction(a.accounts);
  server->addAction(a.filter);
  server->addSeparator();
  server->addAction(a.clear_directory_cache);
  server->addAction(a.clear_file_cache);
  server->addAction(a.cache_contents);

  QMenu* view = window.menuBar()->addMenu(QObject::tr("&View"));
  view->addAction(a.user_list);
  view->addAction(a.monitor);
  view->addAction(a.statistics);
  view->addSeparator();
  view->addAction(a.monitor_font);

  QMenu* help = window.menuBar()->addMenu(QObject::tr("&Help"));
  help->addAction(a.help_topics);
}

}  // namespace

ConsoleActions CreateConsoleActions(QMainWindow& window) {
  ConsoleActions a;
  a.start_stop = Make(window, StartStopLabel(false), "startStopAction");
  a.toolbar_toggle = Make(window, QObject::tr("Activate/Deactivate FTP Server"), "toolbarToggleAction");
  a.toolbar_toggle->setCheckable(true);
  a.toolbar_toggle->setIcon(ServerStateIcon(false));
  a.configure = Make(window, QObject::tr("&Configure..."), "configureAction");
  a.accounts = Make(window, QObject::tr("&Accounts..."), "accountsAction");
  a.filter = Make(window, QObject::tr("&IP Filtering..."), "filterAction");
  a.clear_directory_cache = Make(window, QObject::tr("Clear &Directory Cache"), "clearDirectoryCacheAction");
  a.clear_file_cache = Make(window, QObject::tr("Clear F&ile Cache"), "clearFileCacheAction");
  a.cache_contents = Make(window, QObject::tr("Cache Contents"), "cacheContentsAction");
  a.user_list = MakeCheckable(window, QObject::tr("&User List"), "userListAction");
  a.monitor = MakeCheckable(window, QObject::tr("&Monitor Window"), "monitorAction");
  a.statistics = MakeCheckable(window, QObject::tr("&Statistics"), "statisticsAction");
  a.monitor_font = Make(window, QObject::tr("Monitor &Font"), "monitorFontAction");
  a.help_topics = Make(window, QObject::tr("Help Topics"), "helpTopicsAction");
  a.help_topics->setShortcut(QKeySequence::HelpContents);
  a.exit = Make(window, QObject::tr("E&xit"), "exitAction");
  BuildMenus(window, a);

  QToolBar* bar = window.addToolBar(QObject::tr("Toolbar"));
  bar->setObjectName("mainToolBar");
  bar->addAction(a.toolbar_toggle);
  bar->addSeparator();
  bar->addAction(a.configure);
  bar->addAction(a.accounts);
  bar->addAction(a.filter);
  return a;
}

}  // namespace talvek::console
