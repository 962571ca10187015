// The auto refresh empties its cache each period and stops when told to.
#include "cache/cache_refresh.h"

#include <gtest/gtest.h>

namespace talvek::cache {
namespace {

TEST(CacheRefreshTest, EachPeriodClearsTheCacheUntilRestartedOrStopped) {
  asio::io_context io;
  CacheStore cache;
  CacheRefresh refresh(io, cache);
  cache.setLimit(1000);
  auto add = [&] { ASSERT_TRUE(cache.add("k", std::make_shared<const std::string>("v"), kListingTag)); };
  refresh.start(std::chrono::milliseconds(10));
  for (int period = 0; period < 2; ++period) {
    add();
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (cache.count() != 0 && std::chrono::steady_clock::now() < until) io.run_one_for(std::chrono::milliseconds(20));
    EXPECT_EQ(cache.count(), 0u);
  }
  // A period too long for the clock waits rather than firing at once.
  refresh.start(std::chrono::minutes(0xffffffffu));
  add();
  io.restart();
  io.run_for(std::chrono::milliseconds(50));
  EXPECT_EQ(cache.count(), 1u);
  // A tick of the old period that is already due must not count either.
  refresh.start(std::chrono::hours(1));
  refresh.stop();
  // With nothing armed the loop runs out of work at once.
  io.restart();
  io.run_for(std::chrono::milliseconds(50));
  EXPECT_EQ(cache.count(), 1u);
}

}  // namespace
}  // namespace talvek::cache
