// Empties a cache on a fixed period ("Auto Refresh"), on the event loop it
// is given. Owned next to the cache it clears; stops with destruction.
#pragma once

// Standard headers first: asio picks its allocator from what they define,
// and every file must agree on it.
#include <chrono>
#include <memory>

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>

#include "cache/cache_store.h"

namespace talvek::cache {

// The longest period a timer is armed for (about 24 days): any more in
// milliseconds may overflow the clock's nanoseconds and fire at once.
constexpr std::chrono::milliseconds kLongestPeriod{0x7fffffff};

class CacheRefresh {
 public:
  CacheRefresh(asio::io_context& io, CacheStore& cache);
  ~CacheRefresh();
  CacheRefresh(const CacheRefresh&) = delete;
  CacheRefresh& operator=(const CacheRefresh&) = delete;

  // (Re)starts the period, at most kLongestPeriod; a zero period stops it.
  // Any thread.
  void start(std::chrono::milliseconds period);
  void stop() { start(std::chrono::milliseconds(0)); }

 private:
  void arm(uint64_t generation);

  asio::io_context& io_;
  CacheStore& cache_;
  asio::steady_timer timer_;
  std::chrono::milliseconds period_{0};
  uint64_t generation_ = 0;  // tells a stale tick from the current period's
};

}  // namespace talvek::cache
