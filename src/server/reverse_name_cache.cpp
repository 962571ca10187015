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
    // A record of a name since stored again leaves the newer one alone.
    if (entry != names_.end() && entry->second.expires == order_.front().second) names_.erase(entry);
    order_.pop_front();
  }
  auto expires = now + kLifetime;
  names_[address] = {std::move(name), expires};
  order_.emplace_back(address, expires);
}

}  // namespace talvek::server
