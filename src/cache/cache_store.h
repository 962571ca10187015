// A byte-limited memory cache of immutable blocks keyed by text: the
// directory-listing cache and the file cache are both instances. Entries
// are handed out as shared, read-only blocks, so clearing or evicting never
// frees bytes that a transfer is still sending.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include <sys/stat.h>

#include "platform/directory_watch.h"

namespace talvek::cache {

using CachedBytes = std::shared_ptr<const std::string>;

// What an entry holds.
enum CacheTag : uint32_t { kListingTag = 0, kFileTag = 2 };

// What a cached copy was made from, as fstat showed the file or directory:
// an entry is served only while the disk still shows the same.
struct DiskStamp {
  uint64_t device = 0;
  uint64_t inode = 0;
  int64_t size = 0;
  int64_t modified_ns = 0;
  // A restored modification time still moves this one.
  int64_t changed_ns = 0;
  // For a listing: the changes its directory's watch had seen (stampContents).
  uint64_t contents = 0;
  bool operator==(const DiskStamp&) const = default;
};
DiskStamp StampOf(const struct stat& info);

// One entry as the contents view shows it.
struct CacheEntryInfo {
  std::string key;
  uint64_t size = 0;
  uint32_t hits = 0;
  uint32_t tag = 0;
};

class CacheStore {
 public:
  static constexpr size_t kChains = 200;

  CacheStore() = default;
  virtual ~CacheStore() = default;
  CacheStore(const CacheStore&) = delete;
  CacheStore& operator=(const CacheStore&) = delete;

  // The block cached under `key` (case-sensitive), counting a hit or a
  // miss; nothing, uncounted, while an eviction runs.
  CachedBytes lookup(const std::string& key);
  // As above, but only while the entry was made from `current`: an entry
  // made from another state of the disk is dropped and counts as a miss.
  CachedBytes lookup(const std::string& key, const DiskStamp& current);
  // Stores `data`, made from the disk as `stamp` shows it, under `key`;
  // false when refused (larger than the limit, no room could be made, or
  // the stamp so recent that a change right after it could keep its time).
  bool add(const std::string& key, CachedBytes data, uint32_t tag, const DiskStamp& stamp = {});
  // For a listing of the open directory `fd`: puts into `stamp` what has
  // changed inside it (a write to one of its files leaves the directory's
  // own time alone); false when it cannot be watched, and then the listing
  // must not be cached.
  bool stampContents(int fd, DiskStamp& stamp);
  // Evicts least-hit entries until used + room <= limit; false when room
  // exceeds the limit.
  bool evict(uint64_t room);
  // Sets the limit and shrinks to it at once.
  void setLimit(uint64_t bytes);
  // The extra share of the limit freed by an eviction (0..100).
  void setOverflowPercent(uint32_t percent);
  // Drops every entry; the hit and miss totals stay.
  void clear();
  // Drops the entry under exactly `key`; false when there is none.
  bool remove(const std::string& key);
  // Puts `data` in place of the entry under `key`, keeping its hits, tag
  // and stamp, and adjusts the used total; false when there is none.
  bool replace(const std::string& key, CachedBytes data);

  bool busy() const { return busy_.load(); }
  uint32_t hits() const { return hits_.load(); }
  uint32_t misses() const { return misses_.load(); }
  uint64_t used() const;
  uint32_t count() const;
  uint64_t limit() const;
  // Every entry, chain by chain, each chain from its head.
  std::vector<CacheEntryInfo> entries() const;

  // Chain of a key: its bytes summed as signed 8-bit values, modulo 200.
  static size_t ChainOf(std::string_view key);

 private:
  struct Entry {
    std::string key;
    CachedBytes data;
    uint64_t size = 0;
    uint32_t hits = 1;
    uint32_t tag = 0;
    DiskStamp stamp;
    bool doomed = false;
  };

  bool evictLocked(uint64_t room);
  std::vector<Entry>::iterator eraseLocked(std::vector<Entry>& chain, std::vector<Entry>::iterator entry);

  mutable std::mutex mutex_;
  std::array<std::vector<Entry>, kChains> chains_;  // each chain head first
  std::atomic<bool> busy_{false};
  std::atomic<uint32_t> hits_{0};
  std::atomic<uint32_t> misses_{0};
  uint64_t limit_ = 0;
  uint64_t used_ = 0;
  uint32_t count_ = 0;
  uint32_t overflow_percent_ = 25;
  platform::DirectoryWatch watch_;
};

}  // namespace talvek::cache
