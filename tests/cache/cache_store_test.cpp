// The cache store: exact keys and their counters, freshness stamps, the soft
// limit with its overflow margin, least-hit eviction order and blocks that
// outlive their entries.
#include "cache/cache_store.h"

#include <gtest/gtest.h>

#include <ctime>

namespace talvek::cache {
namespace {

CachedBytes Block(size_t size, char fill = 'x') { return std::make_shared<const std::string>(size, fill); }

// Keys of one chain each: "a".."z" hash to different chains.
std::string Key(int i) { return "key" + std::to_string(i); }

class CacheStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { cache_.setLimit(1000); }
  // Adds `entries` 100-byte entries key0.., each looked up `hits[i]` times.
  void fill(int entries, const std::vector<int>& hits = {}) {
    for (int i = 0; i < entries; ++i) {
      ASSERT_TRUE(cache_.add(Key(i), Block(100), kFileTag));
      for (int h = 0; i < static_cast<int>(hits.size()) && h < hits[i]; ++h) ASSERT_TRUE(cache_.lookup(Key(i)));
    }
  }
  bool has(const std::string& key) {
    for (const auto& entry : cache_.entries())
      if (entry.key == key) return true;
    return false;
  }
  CacheStore cache_;
};

TEST_F(CacheStoreTest, KeysAreExactAndTheTotalsOutliveReplaceRemoveAndClear) {
  ASSERT_TRUE(cache_.add("/Dir/File", Block(100, 'o'), kFileTag));
  ASSERT_TRUE(cache_.add("/Dir/File.part", Block(200), kFileTag));
  EXPECT_TRUE(cache_.lookup("/Dir/File"));
  EXPECT_FALSE(cache_.lookup("/dir/file"));
  // Adding a key again replaces its entry; removing drops exactly that key.
  ASSERT_TRUE(cache_.add("/Dir/File", Block(300, 'n'), kFileTag));
  EXPECT_EQ(*cache_.lookup("/Dir/File"), std::string(300, 'n'));
  EXPECT_EQ(cache_.used(), 500u);
  EXPECT_TRUE(cache_.remove("/Dir/File"));
  EXPECT_FALSE(cache_.remove("/Dir/File"));
  EXPECT_EQ(cache_.used(), 200u);
  // Clearing keeps the totals, and a block handed out outlives its entry.
  CachedBytes reader = cache_.lookup("/Dir/File.part");
  cache_.clear();
  EXPECT_EQ(cache_.used(), 0u);
  EXPECT_EQ(cache_.count(), 0u);
  EXPECT_FALSE(cache_.lookup("/Dir/File.part"));
  EXPECT_EQ(cache_.hits(), 3u);
  EXPECT_EQ(cache_.misses(), 2u);
  ASSERT_TRUE(reader);
  EXPECT_EQ(*reader, std::string(200, 'x'));
}

TEST_F(CacheStoreTest, StampedLookupsHitOnlyWhileTheDiskIsAsItWas) {
  DiskStamp made{1, 2, 10, 1'000'000'000'000'000'000};
  ASSERT_TRUE(cache_.add("/f", Block(10), kFileTag, made));
  EXPECT_TRUE(cache_.lookup("/f", made));
  // Another inode, size, time, change time or change seen inside: a miss,
  // and the stale copy is gone.
  for (DiskStamp changed : {DiskStamp{1, 3, 10, made.modified_ns}, DiskStamp{1, 2, 11, made.modified_ns},
                            DiskStamp{1, 2, 10, made.modified_ns + 1}, DiskStamp{1, 2, 10, made.modified_ns, 1},
                            DiskStamp{1, 2, 10, made.modified_ns, 0, 1}}) {
    ASSERT_TRUE(cache_.add("/f", Block(10), kFileTag, made));
    EXPECT_FALSE(cache_.lookup("/f", changed));
    EXPECT_EQ(cache_.count(), 0u);
  }
  EXPECT_EQ(cache_.hits(), 1u);
  EXPECT_EQ(cache_.misses(), 5u);
  // A copy of a state changed a moment ago could hide a change within the same tick.
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  EXPECT_FALSE(cache_.add("/new", Block(10), kFileTag, {1, 4, 10, int64_t{now.tv_sec} * 1'000'000'000}));
}

TEST_F(CacheStoreTest, TheOverflowMarginDecidesHowMuchAnInsertionFreesLeastHitFirst) {
  struct Case {
    uint32_t percent;
    int entries;
    size_t item, used, count;
  };
  for (const Case& c : std::initializer_list<Case>{
           {25, 9, 300, 1000, 8},   // margin 250; 900 - 250 + 300 <= 1000: evict to 750, then add
           {25, 9, 500, 700, 3},    // 900 - 250 + 500 > 1000: room 750, evict to 250, then add
           {60, 9, 200, 200, 1},    // above half the margin is the whole limit
           {0, 10, 100, 1000, 10},  // no margin: only what the item needs
           {25, 0, 1000, 1000, 1},  // the whole limit fits
           {25, 0, 1001, 0, 0},     // more is refused
       }) {
    cache_.clear();
    cache_.setOverflowPercent(c.percent);
    fill(c.entries, {1, 1, 1, 1, 1, 1, 0, 1, 1, 1});  // key6 has the fewest hits
    EXPECT_EQ(cache_.add("new", Block(c.item), kFileTag), c.item <= 1000) << c.item;
    EXPECT_EQ(cache_.used(), c.used) << c.percent << " " << c.item;
    EXPECT_EQ(cache_.count(), c.count) << c.percent << " " << c.item;
    EXPECT_FALSE(has(Key(6)));
  }
}

TEST_F(CacheStoreTest, EqualHitsEvictTheOneGatheredFirst) {
  fill(10);
  // All have one hit; the lowest chain goes first.
  std::vector<size_t> chains;
  for (int i = 0; i < 10; ++i) chains.push_back(CacheStore::ChainOf(Key(i)));
  int first = static_cast<int>(std::min_element(chains.begin(), chains.end()) - chains.begin());
  cache_.setOverflowPercent(1);  // margin 10: one 100-byte entry is enough
  ASSERT_TRUE(cache_.add("new", Block(50), kFileTag));
  EXPECT_FALSE(has(Key(first)));
  EXPECT_EQ(cache_.count(), 10u);
}

TEST_F(CacheStoreTest, SmallerLimitShrinksAtOnceLeastHitFirst) {
  fill(5, {3, 0, 2, 1, 4});
  cache_.setLimit(300);
  EXPECT_EQ(cache_.used(), 300u);
  EXPECT_TRUE(has(Key(0)) && has(Key(2)) && has(Key(4)));
}

TEST_F(CacheStoreTest, ReplaceKeepsHitsAndTagAndAdjustsTheTotal) {
  ASSERT_TRUE(cache_.add("dir/", Block(100), kListingTag));
  ASSERT_TRUE(cache_.add("other", Block(50), kFileTag));
  ASSERT_TRUE(cache_.lookup("dir/"));
  EXPECT_TRUE(cache_.replace("dir/", Block(300, 'n')));
  EXPECT_FALSE(cache_.replace("missing", Block(1)));
  EXPECT_EQ(cache_.used(), 350u);
  for (const auto& entry : cache_.entries())
    EXPECT_TRUE(entry.key != "dir/" || (entry.hits == 2 && entry.tag == kListingTag && entry.size == 300)) << entry.hits;
  // Growing past the limit evicts back under it.
  EXPECT_TRUE(cache_.replace("other", Block(900)));
  EXPECT_LE(cache_.used(), 1000u);
}

}  // namespace
}  // namespace talvek::cache
