// The auto refresh empties its cache each period and stops when told to.
#include <gtest/gtest.h>

#include <thread>

#include "cache/cache_refresh.h"

namespace talvek::cache {
namespace {

class CacheRefreshTest : public ::testing::Test {
 protected:
  void SetUp() override { cache_.setLimit(1000); }
  void add() { ASSERT_TRUE(cache_.add("k", std::make_shared<const std::string>("v"), kListingTag)); }
  // Runs the loop until `done` holds or the limit passes.
  template <typename Done>
  bool runUntil(Done done, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    auto until = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < until) io_.run_one_for(std::chrono::milliseconds(20));
    return done();
  }
  asio::io_context io_;
  CacheStore cache_;
  CacheRefresh refresh_{io_, cache_};
};

TEST_F(CacheRefreshTest, EachPeriodClearsTheCache) {
  add();
  refresh_.start(std::chrono::milliseconds(10));
  EXPECT_TRUE(runUntil([&] { return cache_.count() == 0; }));
  add();
  EXPECT_TRUE(runUntil([&] { return cache_.count() == 0; }));
}

TEST_F(CacheRefreshTest, StoppedRefreshLeavesEntries) {
  refresh_.start(std::chrono::milliseconds(10));
  refresh_.stop();
  io_.poll();
  add();
  // With nothing armed the loop runs out of work at once.
  io_.restart();
  io_.run_for(std::chrono::milliseconds(50));
  EXPECT_EQ(cache_.count(), 1u);
}

}  // namespace
}  // namespace talvek::cache
