// The reverse names of recent clients, so that repeated logins from one
// address do not each wait for a lookup. Names (and the lack of one) are
// kept for a minute, at most kMaxEntries of them; control thread only.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <unordered_map>

namespace talvek::server {

class ReverseNameCache {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr size_t kMaxEntries = 4096;
  static constexpr auto kLifetime = std::chrono::seconds(60);

  // The name stored for `address` ("" when it had none), unless expired.
  std::optional<std::string> find(const std::string& address, Clock::time_point now) const;
  void store(const std::string& address, std::string name, Clock::time_point now);
  size_t size() const { return names_.size(); }

 private:
  struct Entry {
    std::string name;
    Clock::time_point expires;
  };
  std::unordered_map<std::string, Entry> names_;
  // Every entry has the same lifetime, so the order of storing is the order
  // of expiry: the oldest go first, expired or not.
  std::deque<std::pair<std::string, Clock::time_point>> order_;
};

}  // namespace talvek::server
