// The statistics text and the rate sampler.
#include "transfer/statistics.h"

#include <gtest/gtest.h>

namespace talvek::transfer {
namespace {

TEST(StatisticsTextTest, FiguresAreShownInMebibytesAndCounts) {
  StatisticsFigures figures;
  figures.bytes_sent = 1048576;
  figures.bytes_received = 3 * 1048576 / 2;
  figures.max_rate = 5000;
  figures.file_cache_used = 524288;
  figures.file_cache_hits = 7;
  figures.file_cache_misses = 2;
  figures.dir_cache_hits = 4;
  EXPECT_EQ(StatisticsText(figures),
            "MB transmitted:\t1.00\r\nMB received:\t1.50\r\n"
            "Max Bytes\\sec:\t5000\r\n"
            "File Cache usage:\t0.50 (MB)\r\nFile cache hits:\t7\r\nFile cache misses\t2\r\n"
            "Dir Cache usage:\t0.00 (MB)\r\nDir cache hits:\t4\r\nDir cache misses\t0\r\n\r\n");
}

TEST(RateSamplerTest, SamplesAreDifferencesInThirtyTwoBitsNewestFirstAndTheMaximumSticks) {
  RateSampler sampler;
  sampler.reset(1000);
  EXPECT_EQ(sampler.maxRate(), 1u);
  EXPECT_EQ(sampler.sample(1000 + 1048576), 1048576u);
  EXPECT_EQ(sampler.sample(1000 + 1048576 + 10), 10u);
  EXPECT_EQ(sampler.samples()[0], 10u);
  EXPECT_EQ(sampler.samples()[1], 1048576u);
  EXPECT_EQ(sampler.maxRate(), 1048576u);
  sampler.reset(0xFFFFFFF0u);
  EXPECT_EQ(sampler.sample(uint64_t{0x100000010}), 0x20u);
}

}  // namespace
}  // namespace talvek::transfer
