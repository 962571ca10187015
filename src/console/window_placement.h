// Where the main window and its two bars were: read when the window is
// made, written when it really closes ("WndRect", "UserRect", "StatsRect"
// and the bar layout). Rectangles that no screen shows are ignored.
#pragma once

#include <QList>
#include <QRect>

#include "settings/registry_store.h"

class QMainWindow;
class QDockWidget;

namespace talvek::console {

// True when at least a corner of `rect` (40 x 40 pixels) lies on a screen.
bool ReachableOnScreens(const QRect& rect, const QList<QRect>& screens);

void RestorePlacement(QMainWindow& window, QDockWidget& users, QDockWidget& statistics,
                      const settings::RegistryStore& store);
void SavePlacement(const QMainWindow& window, const QDockWidget& users, const QDockWidget& statistics,
                   settings::RegistryStore& store);

}  // namespace talvek::console
