#include "server/reverse_name_cache.h"

namespace talvek::server {

std::optional<std::string> ReverseNameCache::find(const std::string& address, Clock::time_point now) const {
  auto entry = names_.find(address);
  if (entry == names_.end() || entry->second.expires <= now) return std::nullopt;
  return entry->second.name;
}

void ReverseNameCache::store(const std::string& address, std::string name, Clock::time_point now) {
  while (!order_.empty() && (order_.front().second <= now || names_.size() >= kMaxEntries)) {
    auto entry = names_.find(order_.front().first);
    if (entry != names_.end()) names_.erase(entry);
    order_.pop_front();
  }
  auto [entry, added] = names_.try_emplace(address);
  // Lookups of one address that overlapped: the first keeps its place in
  // the order, so the order never holds more than one place per name.
  if (!added) {
    entry->second.name = std::move(name);
    return;
  }
  auto expires = now + kLifetime;
  entry->second = {std::move(name), expires};
  order_.emplace_back(address, expires);
}

}  // namespace talvek::server
