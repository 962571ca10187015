#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filter/pattern_engine.h"

namespace talvek::filter {
namespace {

constexpr const char* kLimitText = "Match exceeded the recursion or step limit";

TEST(PatternBoundsTest, HostilePatternsStopAtTheStepOrDepthBound) {
  const std::vector<std::pair<std::string, std::string>> cases{
      {"^(a|a)*$", std::string(30, 'a') + "!"},
      {"^(1|.|1|.)*x$", "111.111.111.111"},
      {"(a)*", std::string(1'000'000, 'a')},  // the depth bound, instead of a stack overflow
      {".*.*.*.*.*x", std::string(5000, 'a') + "x" + std::string(5000, 'a') + "y"},
  };
  for (const auto& [pattern, subject] : cases) {
    PatternEngine engine;
    ASSERT_TRUE(engine.compile(pattern));
    EXPECT_FALSE(engine.match(subject)) << pattern;
    EXPECT_TRUE(engine.lastMatchHitLimit()) << pattern;
    EXPECT_EQ(engine.errorMessage(), kLimitText);
    EXPECT_LE(engine.lastMatchSteps(), kMaxMatchSteps);
    EXPECT_LE(engine.lastMatchDepth(), kMaxMatchDepth);
    engine.match("b");  // usable again afterwards
    EXPECT_FALSE(engine.lastMatchHitLimit());
  }
}

}  // namespace
}  // namespace talvek::filter
