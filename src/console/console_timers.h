// The main window's three settings-driven timers: 110 posts the idle sweep
// to the control thread, 111 and 113 clear the directory and file caches.
// They run on the user-interface thread and only hand work on.
#pragma once

#include <chrono>
#include <optional>

#include <QObject>
#include <QTimer>

#include "server/server.h"
#include "settings/settings.h"

namespace talvek::console {

// The periods the settings ask for; nothing for a timer that is off.
struct TimerPeriods {
  std::optional<std::chrono::milliseconds> idle_sweep;       // half the time-out
  std::optional<std::chrono::milliseconds> directory_clear;  // refresh minutes
  std::optional<std::chrono::milliseconds> file_clear;
};
TimerPeriods PeriodsFor(const settings::Settings& settings);

class ConsoleTimers : public QObject {
  Q_OBJECT

 public:
  explicit ConsoleTimers(server::Server& server, QObject* parent = nullptr);

  // Arms or kills each timer from the server's settings now.
  void arm();
  const QTimer& idleTimer() const { return idle_; }
  const QTimer& directoryTimer() const { return directory_; }
  const QTimer& fileTimer() const { return file_; }

 private:
  server::Server& server_;
  QTimer idle_;
  QTimer directory_;
  QTimer file_;
};

}  // namespace talvek::console
