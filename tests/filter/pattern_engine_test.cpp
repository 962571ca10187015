// The pattern syntax of the filter entries, its faults and its bounds.
#include "filter/pattern_engine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace talvek::filter {
namespace {

// Compiles and matches; the whole match as text, or nothing.
std::optional<std::string> Found(const std::string& pattern, const std::string& subject) {
  PatternEngine engine;
  if (!engine.compile(pattern) || !engine.match(subject)) return std::nullopt;
  auto whole = engine.group(0);
  return subject.substr(whole->first, whole->second - whole->first);
}

struct MatchCase {
  std::string pattern, subject;
  std::optional<std::string> found;  // the leftmost match, first alternative preferred
};

TEST(PatternMatch, SyntaxOfTheFilterEntries) {
  const std::optional<std::string> none;
  const std::vector<MatchCase> cases{
      {"[0-9]+", "10.0.0.1", "10"},       {"^10", "110.0.0.1", none},      {"^10", "10.0.0.1", "10"},
      {"1$", "10.0.0.12", none},          {"1$", "10.0.0.1", "1"},         {"$", "anything", ""},
      {"^$", "", ""},                     {"1.2", "1x2", "1x2"},           {"1.2", "12", none},
      {"1.", "1", none},                  {"1\\.2", "1x2", none},          {"1\\.2", "1.2", "1.2"},
      {"\\*+", "a**b", "**"},             {"\\\\", "a\\b", "\\"},          {"[a-c]+", "xabcd", "abc"},
      {"[c-c]", "abc", "c"},              {"[a-c-e]+", "zcde", "cde"},     {"[]a]+", "x]a]", "]a]"},
      {"[-a]+", "x-a", "-a"},             {"[a-]+", "x-a", "-a"},          {"[abc]", "xyz", none},
      {"[^0-9]", "12.3", "."},            {"[^0-9]", "123", none},         {"1[^0-9]", "1", none},
      {"[^]a]+", "]ab]", "b"},            {"[^-]+", "--x-", "x"},          {"^ab*c$", "ac", "ac"},
      {"^ab*c$", "abbbc", "abbbc"},       {"^ab+c$", "ac", none},          {"^ab?c$", "abbc", none},
      {"^ab?c$", "abc", "abc"},           {"^(ab)+$", "ababab", "ababab"}, {"^(ab)+$", "abba", none},
      {"^(ab)?c$", "c", "c"},             {"^abc*$", "abccc", "abccc"},    {"^abc*$", "abcabc", none},
      {"a.*b", "axxbyyb", "axxbyyb"},     {"a[0-9]*1", "a1211x", "a1211"}, {"x*bc", "abc", "bc"},
      {"a*bcd", "bcx", none},             {"a|ab", "xab", "a"},            {"b", "abcb", "b"},
      {"", "10.0.0.1", ""},               {"x|", "", ""},                  {"(((((((((a)))))))))", "a", "a"},
      {std::string("ab\0zz", 5), "ab", "ab"}, {"b$", std::string("ab\0c", 4), "b"},
  };
  for (const MatchCase& c : cases) EXPECT_EQ(Found(c.pattern, c.subject), c.found) << c.pattern << " / " << c.subject;
}

TEST(PatternCompile, EachSyntaxFaultLeavesInsufficientExpressionAndMatchesNothing) {
  const std::vector<std::pair<std::string, std::string>> cases{
      {"a**", "Illegal nesting"},         {"a+?", "Illegal nesting"},
      {"*a", "Illegal ?, +, or * usage"}, {"a|+", "Illegal ?, +, or * usage"},
      {"(a", "Mismatched () or []"},      {"a)", "Mismatched () or []"},
      {"[a", "Mismatched () or []"},      {"[^", "Mismatched () or []"},
      {"[z-a]", "Illegal [] range"},      {"a\\", "Illegal backslashes"},
      {"(a*)*", "Illegal use of * or +"}, {"(|a)+", "Illegal use of * or +"},
      {"^*", "Illegal use of * or +"},    {"(1)(2)(3)(4)(5)(6)(7)(8)(9)(0)", "Mismatched () or []"},
  };
  for (const auto& [pattern, cause] : cases) {
    PatternEngine engine;
    EXPECT_FALSE(engine.compile(pattern)) << pattern;
    EXPECT_EQ(engine.errorMessage(), "Insufficient expression") << pattern;
    EXPECT_EQ(engine.firstErrorMessage(), cause) << pattern;
    EXPECT_EQ(engine.errorCount(), 2) << pattern;
    EXPECT_FALSE(engine.match("a"));
    EXPECT_EQ(engine.errorMessage(), "Parse overload");
  }
}

TEST(PatternCompile, ProgramLargerThanTheAreaIsRefused) {
  PatternEngine engine;
  std::string fits(1013, 'a');  // with the program's frame, exactly 1024 bytes
  ASSERT_TRUE(engine.compile(fits));
  EXPECT_TRUE(engine.match("x" + fits));
  for (const std::string& large : {fits + "a", std::string("[\x01-\xff][\x01-\xff][\x01-\xff][\x01-\xff]"),
                                   std::string(kMaxPatternLength + 1, '(')}) {
    EXPECT_FALSE(engine.compile(large));
    EXPECT_EQ(engine.errorMessage(), "Pattern too large");
  }
}

TEST(PatternBounds, HostilePatternsStopAtTheStepOrDepthBound) {
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
    EXPECT_EQ(engine.errorMessage(), "Match exceeded the recursion or step limit");
    EXPECT_LE(engine.lastMatchSteps(), kMaxMatchSteps);
    EXPECT_LE(engine.lastMatchDepth(), kMaxMatchDepth);
    engine.match("b");  // usable again afterwards
    EXPECT_FALSE(engine.lastMatchHitLimit());
  }
}

}  // namespace
}  // namespace talvek::filter
