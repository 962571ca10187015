// The notification-area icon: active and inactive pictures, the tip with
// the connection count, and a menu built anew at each showing. Exists only
// where the desktop has a system tray; owned by the main window.
#pragma once

#include <functional>
#include <memory>

#include <QIcon>
#include <QObject>
#include <QString>

class QMenu;
class QSystemTrayIcon;

namespace talvek::console {

// "<title>\r\nActive - <n> connection[s]" while active, else "<title>\r\nNot Active".
QString TrayTipText(const QString& title, bool active, int connections);

// The picture of the server state, for the tray, the toolbar and the window.
QIcon ServerStateIcon(bool active);

// What the tray menu offers; the menu is filled from it each time it opens.
struct TrayMenuState {
  bool active = false;
  bool window_hidden = false;
  // While a modal dialog runs, the items that open another one or end the
  // program are disabled.
  bool dialog_open = false;
};

// Fills `menu` (emptied first) in the fixed order; each item emits the
// matching signal of `commands`.
class TrayCommands;
void FillTrayMenu(QMenu& menu, const TrayMenuState& state, TrayCommands& commands);

// The commands the tray menu and the icon's clicks ask for.
class TrayCommands : public QObject {
  Q_OBJECT
 public:
  using QObject::QObject;
 signals:
  void toggleRequested();
  void configureRequested();
  void accountsRequested();
  void filterRequested();
  void openRequested();
  void exitRequested();
};

class TrayIcon : public TrayCommands {
  Q_OBJECT

 public:
  // `state` is asked each time the menu opens or the tip is rebuilt.
  TrayIcon(std::function<TrayMenuState()> state, QObject* parent = nullptr);
  ~TrayIcon() override;

  // Sets the picture and the tip from the server state now.
  void update(const QString& title, bool active, int connections);
  void setTip(const QString& tip);

 private:
  void showMenuAtCursor();

  std::function<TrayMenuState()> state_;
  std::unique_ptr<QMenu> menu_;
  std::unique_ptr<QSystemTrayIcon> icon_;
};

}  // namespace talvek::console
