#include "console/window_placement.h"

#include <QDockWidget>
#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>

#include "console/console_settings.h"

namespace talvek::console {

namespace {

constexpr int kReachable = 40;

QList<QRect> ScreenAreas() {
  QList<QRect> areas;
  for (QScreen* screen : QGuiApplication::screens()) areas.append(screen->availableGeometry());
  return areas;
}

QRect DockRect(const QDockWidget& dock) {
  if (dock.isFloating()) return dock.geometry();
  return QRect(dock.mapToGlobal(QPoint(0, 0)), dock.size());
}

void RestoreDock(QMainWindow& window, QDockWidget& dock, const QRect& rect) {
  if (dock.isFloating()) {
    dock.setGeometry(rect);
    return;
  }
  Qt::DockWidgetArea area = window.dockWidgetArea(&dock);
  bool across = area == Qt::TopDockWidgetArea || area == Qt::BottomDockWidgetArea;
  window.resizeDocks({&dock}, {across ? rect.height() : rect.width()}, across ? Qt::Vertical : Qt::Horizontal);
}

}  // namespace

bool ReachableOnScreens(const QRect& rect, const QList<QRect>& screens) {
  for (const QRect& screen : screens) {
    QRect common = screen.intersected(rect);
    if (common.width() >= kReachable && common.height() >= kReachable) return true;
  }
  return false;
}

void RestorePlacement(QMainWindow& window, QDockWidget& users, QDockWidget& statistics,
                      const settings::RegistryStore& store) {
  QByteArray state = ReadBarState(store);
  if (!state.isEmpty()) window.restoreState(state);
  const QList<QRect> screens = ScreenAreas();
  if (auto rect = ReadRect(store, kWindowRectValue); rect && ReachableOnScreens(*rect, screens))
    window.setGeometry(*rect);
  if (auto rect = ReadRect(store, kUserRectValue); rect && ReachableOnScreens(*rect, screens))
    RestoreDock(window, users, *rect);
  if (auto rect = ReadRect(store, kStatsRectValue); rect && ReachableOnScreens(*rect, screens))
    RestoreDock(window, statistics, *rect);
}

void SavePlacement(const QMainWindow& window, const QDockWidget& users, const QDockWidget& statistics,
                   settings::RegistryStore& store) {
  bool normal = !window.isMaximized() && !window.isMinimized() && !window.isFullScreen();
  WriteRect(store, kWindowRectValue, normal ? window.geometry() : window.normalGeometry());
  WriteRect(store, kUserRectValue, DockRect(users));
  WriteRect(store, kStatsRectValue, DockRect(statistics));
  WriteBarState(store, window.saveState());
}

}  // namespace talvek::console
