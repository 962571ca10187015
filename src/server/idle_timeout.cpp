// The idle time-out sweep and the timer that drives it.
#include "log/log_thread.h"
#include "server/server.h"

namespace talvek::server {

void Server::idleSweep(std::time_t now) {
  uint32_t limit_minutes = settings().general.timeoutMinutes;
  // Every connection registered when the sweep starts is looked at once.
  for (const auto& record : registrySnapshot()) {
    std::time_t last = record->shared.last_activity.load();
    long idle_minutes = static_cast<long>((now - last) / 60);
    if (idle_minutes <= static_cast<long>(limit_minutes)) continue;
    std::string text = log::FormatLocalTime(now) + " : Host " + record->displayName() +
                       " disconnected on timeout\r\n(Last activity at " + log::FormatLocalTime(last) + ")\r\n\r\n";
    remove(record);
    handToLog(text);
    appendMonitor(text);
  }
}

void Server::armIdleTimer() {
  auto current = settings();
  idle_timer_.cancel();
  if (!current.general.timeoutIdle) return;
  // Twice per time-out period, so nobody stays more than half a period over;
  // a stored time-out of 0 sweeps as for one minute, a huge one as for
  // cache::kLongestPeriod (longer would overflow the clock and fire at once).
  auto period = std::min<std::chrono::milliseconds>(
      std::chrono::seconds(uint64_t{std::max<uint32_t>(current.general.timeoutMinutes, 1)} * 30),
      cache::kLongestPeriod);
  idle_timer_.expires_after(period);
  idle_timer_.async_wait([this](const std::error_code& error) {
    if (error) return;
    idleSweep(std::time(nullptr));
    armIdleTimer();
  });
}

}  // namespace talvek::server
