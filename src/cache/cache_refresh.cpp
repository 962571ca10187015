#include "cache/cache_refresh.h"

#include <algorithm>

#include <asio/dispatch.hpp>

namespace talvek::cache {

CacheRefresh::CacheRefresh(asio::io_context& io, CacheStore& cache) : io_(io), cache_(cache), timer_(io) {}

CacheRefresh::~CacheRefresh() { timer_.cancel(); }

void CacheRefresh::start(std::chrono::milliseconds period) {
  asio::dispatch(io_, [this, period] {
    period_ = std::min(period, kLongestPeriod);
    timer_.cancel();
    // A tick already due when the period changes must not run: with a zero
    // period it would re-arm at once and clear the cache in a busy loop.
    uint64_t generation = ++generation_;
    if (period_.count() > 0) arm(generation);
  });
}

void CacheRefresh::arm(uint64_t generation) {
  timer_.expires_after(period_);
  timer_.async_wait([this, generation](const std::error_code& error) {
    if (error || generation != generation_) return;
    cache_.clear();
    arm(generation);
  });
}

}  // namespace talvek::cache
