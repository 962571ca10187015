#include "cache/cache_store.h"

#include <algorithm>
#include <ctime>

namespace talvek::cache {

size_t CacheStore::ChainOf(std::string_view key) {
  uint32_t sum = 0;
  for (char c : key) sum += static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(c)));
  return sum % kChains;
}

namespace {

// File systems keep times as coarse as 2 s, and the kernel stamps changes
// with a clock a tick behind: a copy made from a state younger than that
// could not be told from a change that follows it within the same tick.
constexpr int64_t kSettledNs = 2'000'000'000;

int64_t NowNs() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

}  // namespace

DiskStamp StampOf(const struct stat& info) {
  return {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino), static_cast<int64_t>(info.st_size),
          int64_t{info.st_mtim.tv_sec} * 1'000'000'000 + info.st_mtim.tv_nsec,
          int64_t{info.st_ctim.tv_sec} * 1'000'000'000 + info.st_ctim.tv_nsec};
}

bool CacheStore::stampContents(int fd, DiskStamp& stamp) {
  auto changes = watch_.changesOf(fd);
  if (changes) stamp.contents = *changes;
  return changes.has_value();
}

CachedBytes CacheStore::lookup(const std::string& key, const DiskStamp& current) {
  if (busy_.load()) return nullptr;
  std::lock_guard lock(mutex_);
  auto& chain = chains_[ChainOf(key)];
  auto entry = std::find_if(chain.begin(), chain.end(), [&](const Entry& item) { return item.key == key; });
  if (entry != chain.end() && entry->stamp == current && entry->data) {
    ++entry->hits;
    hits_.fetch_add(1);
    return entry->data;
  }
  // A copy of another state of the disk is never served again.
  if (entry != chain.end()) eraseLocked(chain, entry);
  misses_.fetch_add(1);
  return nullptr;
}

CachedBytes CacheStore::lookup(const std::string& key) {
  // A long eviction must not make readers queue behind it.
  if (busy_.load()) return nullptr;
  std::lock_guard lock(mutex_);
  for (auto& entry : chains_[ChainOf(key)]) {
    if (entry.key != key) continue;
    ++entry.hits;
    (entry.data ? hits_ : misses_).fetch_add(1);
    return entry.data;
  }
  misses_.fetch_add(1);
  return nullptr;
}

bool CacheStore::add(const std::string& key, CachedBytes data, uint32_t tag, const DiskStamp& stamp) {
  if (!data || stamp.modified_ns > NowNs() - kSettledNs) return false;
  uint64_t size = data->size();
  std::lock_guard lock(mutex_);
  if (size > limit_) return false;
  // Two transfers that missed at once both add: the later one replaces.
  auto& home = chains_[ChainOf(key)];
  if (auto same = std::find_if(home.begin(), home.end(), [&](const Entry& entry) { return entry.key == key; });
      same != home.end())
    eraseLocked(home, same);
  if (used_ + size > limit_) {
    // Free a margin beyond the new item so that not every insertion evicts.
    uint64_t margin = overflow_percent_ == 0 ? 0 : limit_ / (100 / overflow_percent_);
    if (used_ - margin + size > limit_) margin += size;  // unsigned: wraps when used < margin
    if (!evictLocked(margin)) return false;
  }
  chains_[ChainOf(key)].push_back(Entry{key, std::move(data), size, 1, tag, stamp, false});
  ++count_;
  used_ += size;
  return true;
}

bool CacheStore::evict(uint64_t room) {
  std::lock_guard lock(mutex_);
  return evictLocked(room);
}

bool CacheStore::evictLocked(uint64_t room) {
  busy_ = true;
  if (room > limit_) {
    busy_ = false;
    return false;
  }
  struct Candidate {
    uint32_t hits;
    size_t chain;
    size_t position;
  };
  std::vector<Candidate> order;
  order.reserve(count_);
  for (size_t chain = 0; chain < kChains; ++chain)
    for (size_t position = 0; position < chains_[chain].size(); ++position)
      order.push_back({chains_[chain][position].hits, chain, position});
  // Fewest hits first; among equals, the one gathered first.
  std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.hits < b.hits; });
  bool any = false;
  for (const auto& candidate : order) {
    if (used_ + room <= limit_) break;
    auto& entry = chains_[candidate.chain][candidate.position];
    entry.doomed = true;
    used_ -= entry.size;
    --count_;
    any = true;
  }
  if (any)
    for (auto& chain : chains_) std::erase_if(chain, [](const Entry& entry) { return entry.doomed; });
  busy_ = false;
  return true;
}

void CacheStore::setLimit(uint64_t bytes) {
  std::lock_guard lock(mutex_);
  limit_ = bytes;
  evictLocked(0);
}

void CacheStore::setOverflowPercent(uint32_t percent) {
  std::lock_guard lock(mutex_);
  overflow_percent_ = std::min<uint32_t>(percent, 100);
}

void CacheStore::clear() {
  std::lock_guard lock(mutex_);
  for (auto& chain : chains_) chain.clear();
  used_ = 0;
  count_ = 0;
}

bool CacheStore::remove(const std::string& key) {
  std::lock_guard lock(mutex_);
  auto& chain = chains_[ChainOf(key)];
  auto entry = std::find_if(chain.begin(), chain.end(), [&](const Entry& item) { return item.key == key; });
  if (entry == chain.end()) return false;
  eraseLocked(chain, entry);
  return true;
}

bool CacheStore::replace(const std::string& key, CachedBytes data) {
  if (!data) return false;
  std::lock_guard lock(mutex_);
  auto& chain = chains_[ChainOf(key)];
  auto entry = std::find_if(chain.begin(), chain.end(), [&](const Entry& item) { return item.key == key; });
  if (entry == chain.end()) return false;
  used_ = used_ - entry->size + data->size();
  entry->size = data->size();
  entry->data = std::move(data);
  // A grown entry may take the cache over its limit: shrink back to it.
  if (used_ > limit_) evictLocked(0);
  return true;
}

std::vector<CacheStore::Entry>::iterator CacheStore::eraseLocked(std::vector<Entry>& chain,
                                                                  std::vector<Entry>::iterator entry) {
  used_ -= entry->size;
  --count_;
  return chain.erase(entry);
}

uint64_t CacheStore::used() const {
  std::lock_guard lock(mutex_);
  return used_;
}

uint32_t CacheStore::count() const {
  std::lock_guard lock(mutex_);
  return count_;
}

uint64_t CacheStore::limit() const {
  std::lock_guard lock(mutex_);
  return limit_;
}

std::vector<CacheEntryInfo> CacheStore::entries() const {
  std::lock_guard lock(mutex_);
  std::vector<CacheEntryInfo> all;
  for (const auto& chain : chains_)
    for (const auto& entry : chain) all.push_back({entry.key, entry.size, entry.hits, entry.tag});
  return all;
}

}  // namespace talvek::cache
