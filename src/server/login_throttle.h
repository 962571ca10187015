// Refused passwords counted per client address, and the temporary bans they
// earn under the failed-login throttle settings. Kept in memory only; any
// thread (one mutex).
#pragma once

#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>

#include "settings/settings.h"

namespace talvek::server {

class LoginThrottle {
 public:
  using Clock = std::chrono::steady_clock;

  // Counts a refused password from `address`; true when it starts a ban.
  bool failed(const std::string& address, const settings::LoginThrottleSettings& rules, Clock::time_point now);
  bool banned(const std::string& address, Clock::time_point now) const;

 private:
  struct Entry {
    std::deque<Clock::time_point> failures;  // within the window, at most the ban count
    Clock::time_point banned_until{};
  };
  mutable std::mutex mutex_;
  std::unordered_map<std::string, Entry> entries_;
};

}  // namespace talvek::server
