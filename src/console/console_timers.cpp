#include "console/console_timers.h"

#include <algorithm>
#include <climits>

namespace talvek::console {

namespace {

using std::chrono::milliseconds;

// A timer holds at most INT_MAX ms (about 24 days); longer settings wait that long.
milliseconds Bounded(uint64_t ms) { return milliseconds(std::min<uint64_t>(ms, INT_MAX)); }

void Apply(QTimer& timer, const std::optional<milliseconds>& period) {
  if (!period) {
    timer.stop();
    return;
  }
  timer.start(static_cast<int>(period->count()));
}

}  // namespace

TimerPeriods PeriodsFor(const settings::Settings& settings) {
  TimerPeriods periods;
  // A time-out of 0 minutes would fire without pause; sweep as for one minute.
  if (settings.general.timeoutIdle)
    periods.idle_sweep = Bounded(uint64_t{std::max<uint32_t>(settings.general.timeoutMinutes, 1)} * 30000);
  // A refresh period of 0 minutes means no refresh, as in the server's own refresh.
  if (settings.cache.autoRefreshDirs && settings.cache.dirRefreshMinutes)
    periods.directory_clear = Bounded(uint64_t{settings.cache.dirRefreshMinutes} * 60000);
  if (settings.cache.autoRefreshFiles && settings.cache.fileRefreshMinutes)
    periods.file_clear = Bounded(uint64_t{settings.cache.fileRefreshMinutes} * 60000);
  return periods;
}

ConsoleTimers::ConsoleTimers(server::Server& server, QObject* parent) : QObject(parent), server_(server) {
  connect(&idle_, &QTimer::timeout, this,
          [this] { server_.post([&server = server_] { server.idleSweep(std::time(nullptr)); }); });
  connect(&directory_, &QTimer::timeout, this, [this] { server_.directoryCache().clear(); });
  connect(&file_, &QTimer::timeout, this, [this] { server_.fileCache().clear(); });
}

void ConsoleTimers::arm() {
  TimerPeriods periods = PeriodsFor(server_.settings());
  Apply(idle_, periods.idle_sweep);
  Apply(directory_, periods.directory_clear);
  Apply(file_, periods.file_clear);
}

}  // namespace talvek::console
