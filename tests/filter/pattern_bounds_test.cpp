#include <gtest/gtest.h>

#include <random>
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

std::string RandomText(std::mt19937& rng, const std::vector<std::string>& tokens, std::size_t maxTokens) {
  std::uniform_int_distribution<std::size_t> length(0, maxTokens);
  std::uniform_int_distribution<std::size_t> pick(0, tokens.size() - 1);
  std::string text;
  for (std::size_t n = length(rng); n > 0; --n) text += tokens[pick(rng)];
  return text;
}

// Thousands of random patterns over the whole syntax, including broken ones,
// against addresses and longer noise: no crash, every call within its bound,
// and a reported match always lies inside the subject.
TEST(PatternFuzzTest, RandomPatternsAndSubjectsStayWithinBounds) {
  std::mt19937 rng(20240501);
  const std::vector<std::string> syntax{"0", "1", "9", ".", "^", "$", "[", "]", "-", "(", ")", "|",
                                        "?", "+", "*", "\\", "[0-9]+", "a", "[^.]", "((", "))"};
  const std::vector<std::string> address{"0", "1", "2", "5", "9", ".", "a", ":"};
  int compiled = 0;
  for (int i = 0; i < 4000; ++i) {
    std::string pattern = RandomText(rng, syntax, 24);
    PatternEngine engine;
    if (!engine.compile(pattern)) {
      EXPECT_EQ(engine.errorMessage(), "Insufficient expression") << pattern;
      continue;
    }
    ++compiled;
    ASSERT_LE(engine.program().size(), 1024u);
    for (int s = 0; s < 3; ++s) {
      std::string subject = RandomText(rng, address, s == 2 ? 400 : 16);
      bool matched = engine.match(subject);
      ASSERT_LE(engine.lastMatchSteps(), kMaxMatchSteps) << pattern << " / " << subject;
      ASSERT_LE(engine.lastMatchDepth(), kMaxMatchDepth) << pattern << " / " << subject;
      if (matched) {
        auto whole = engine.group(0);
        ASSERT_TRUE(whole.has_value());
        EXPECT_LE(whole->first, whole->second);
        EXPECT_LE(whole->second, subject.size());
      }
      if (engine.lastMatchHitLimit()) {
        EXPECT_FALSE(matched);
      }
    }
  }
  EXPECT_GT(compiled, 400);
}

}  // namespace
}  // namespace talvek::filter
