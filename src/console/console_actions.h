// The operator commands of the main window as actions, with their menus
// and the toolbar. The actions belong to the window they were made for;
// the window connects them to what they do.
#pragma once

#include <QAction>
#include <QMainWindow>

namespace talvek::console {

struct ConsoleActions {
  QAction* start_stop = nullptr;      // "Start FTP Server" / "Stop FTP Server"
  QAction* toolbar_toggle = nullptr;  // checked while the server is active
  QAction* configure = nullptr;
  QAction* accounts = nullptr;
  QAction* filter = nullptr;
  QAction* clear_directory_cache = nullptr;
  QAction* clear_file_cache = nullptr;
  QAction* cache_contents = nullptr;
  QAction* user_list = nullptr;  // checkable
  QAction* monitor = nullptr;    // checkable
  QAction* statistics = nullptr;  // checkable
  QAction* monitor_font = nullptr;
  QAction* help_topics = nullptr;
  QAction* exit = nullptr;
};

// The menu label of the start/stop command for a server state.
QString StartStopLabel(bool active);

// Makes the actions and puts them into `window`'s menu bar and a toolbar.
ConsoleActions CreateConsoleActions(QMainWindow& window);

}  // namespace talvek::console
