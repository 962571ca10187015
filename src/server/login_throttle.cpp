#include "server/login_throttle.h"

namespace talvek::server {

namespace {
// Above this many addresses, spent entries are swept out on each failure.
constexpr size_t kSweepAbove = 1024;
}  // namespace

bool LoginThrottle::failed(const std::string& address, const settings::LoginThrottleSettings& rules,
                           Clock::time_point now) {
  if (rules.banFailures == 0) return false;
  auto window = std::chrono::minutes(rules.banWindowMinutes);
  std::lock_guard lock(mutex_);
  if (entries_.size() > kSweepAbove)
    std::erase_if(entries_, [&](const auto& item) {
      const Entry& entry = item.second;
      return entry.banned_until <= now && (entry.failures.empty() || entry.failures.back() + window <= now);
    });
  Entry& entry = entries_[address];
  if (entry.banned_until > now) return false;
  entry.failures.push_back(now);
  while (!entry.failures.empty() &&
         (entry.failures.front() + window <= now || entry.failures.size() > rules.banFailures))
    entry.failures.pop_front();
  if (entry.failures.size() < rules.banFailures) return false;
  entry.failures.clear();
  entry.banned_until = now + std::chrono::minutes(rules.banMinutes);
  return true;
}

bool LoginThrottle::banned(const std::string& address, Clock::time_point now) const {
  std::lock_guard lock(mutex_);
  auto item = entries_.find(address);
  return item != entries_.end() && item->second.banned_until > now;
}

}  // namespace talvek::server
