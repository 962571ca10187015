#include "filter/pattern_engine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace talvek::filter {
namespace {

// Compiles and matches; the whole match as text, or nothing.
std::optional<std::string> Found(const std::string& pattern, const std::string& subject) {
  PatternEngine engine;
  if (!engine.compile(pattern)) return std::nullopt;
  if (!engine.match(subject)) return std::nullopt;
  auto whole = engine.group(0);
  return subject.substr(whole->first, whole->second - whole->first);
}

bool Matches(const std::string& pattern, const std::string& subject) {
  return Found(pattern, subject).has_value();
}

TEST(PatternProgramTest, LiteralCompilesToBranchExactlyEnd) {
  PatternEngine engine;
  ASSERT_TRUE(engine.compile("ab"));
  std::vector<uint8_t> expected{156, 6, 0, 9, 8, 0, 6, 'a', 'b', 0, 0, 0, 0};
  EXPECT_EQ(std::vector<uint8_t>(engine.program().begin(), engine.program().end()), expected);
}

TEST(PatternProgramTest, StarOnSingleCharacterInsertsStarNode) {
  PatternEngine engine;
  ASSERT_TRUE(engine.compile("a*"));
  std::vector<uint8_t> expected{156, 6, 0, 11, 10, 0, 8, 8, 0, 0, 'a', 0, 0, 0, 0};
  EXPECT_EQ(std::vector<uint8_t>(engine.program().begin(), engine.program().end()), expected);
}

TEST(PatternProgramTest, StarOnGroupBecomesLoopWithBackwardLink) {
  PatternEngine engine;
  ASSERT_TRUE(engine.compile("(a)*"));
  std::vector<uint8_t> expected{156, 6, 0,  29, 6, 0,  20, 21, 0, 3, 6, 0, 8, 8, 0, 5, 'a',
                                0,   31, 0, 3,  7, 0,  17, 6,  0, 3, 9, 0, 3, 0, 0, 0};
  EXPECT_EQ(std::vector<uint8_t>(engine.program().begin(), engine.program().end()), expected);
}

TEST(PatternMatchTest, DigitRunMatchesFirstOctetOfAddress) {
  PatternEngine engine;
  ASSERT_TRUE(engine.compile("[0-9]+"));
  ASSERT_TRUE(engine.match("10.0.0.1"));
  EXPECT_EQ(engine.group(0), std::make_pair(std::size_t{0}, std::size_t{2}));
}

TEST(PatternMatchTest, CaretAnchorsToStartOfSubjectOnly) {
  EXPECT_TRUE(Matches("^10", "10.0.0.1"));
  EXPECT_FALSE(Matches("^10", "110.0.0.1"));
  EXPECT_TRUE(Matches("1$", "10.0.0.1"));
  EXPECT_FALSE(Matches("1$", "10.0.0.12"));
  EXPECT_TRUE(Matches("$", "anything"));
  EXPECT_EQ(Found("^$", ""), "");
}

TEST(PatternMatchTest, DotIsAnyCharacterButNotTheEnd) {
  EXPECT_TRUE(Matches("1.2", "1x2"));
  EXPECT_TRUE(Matches("1.2", "112"));
  EXPECT_FALSE(Matches("1.2", "12"));
  EXPECT_FALSE(Matches("1.", "1"));
}

TEST(PatternMatchTest, BackslashMakesMetacharacterLiteral) {
  EXPECT_TRUE(Matches("1\\.2", "1.2"));
  EXPECT_FALSE(Matches("1\\.2", "1x2"));
  EXPECT_EQ(Found("\\*+", "a**b"), "**");
  EXPECT_EQ(Found("\\\\", "a\\b"), "\\");
}

TEST(PatternMatchTest, SetsRangesAndTheirLiteralMembers) {
  EXPECT_EQ(Found("[a-c]+", "xabcd"), "abc");
  EXPECT_EQ(Found("[c-c]", "abc"), "c");
  EXPECT_EQ(Found("[a-c-e]+", "zcde"), "cde");
  EXPECT_EQ(Found("[]a]+", "x]a]"), "]a]");
  EXPECT_EQ(Found("[-a]+", "x-a"), "-a");
  EXPECT_EQ(Found("[a-]+", "x-a"), "-a");
  EXPECT_FALSE(Matches("[abc]", "xyz"));
}

TEST(PatternMatchTest, NegatedSetMatchesNonMembersButNeverTheEnd) {
  EXPECT_EQ(Found("[^0-9]", "12.3"), ".");
  EXPECT_FALSE(Matches("[^0-9]", "123"));
  EXPECT_FALSE(Matches("1[^0-9]", "1"));
  EXPECT_FALSE(Matches("1[0-9]", "1"));
  EXPECT_EQ(Found("[^]a]+", "]ab]"), "b");
  EXPECT_EQ(Found("[^-]+", "--x-"), "x");
}

TEST(PatternMatchTest, RepetitionOperators) {
  EXPECT_TRUE(Matches("^ab*c$", "ac"));
  EXPECT_TRUE(Matches("^ab*c$", "abbbc"));
  EXPECT_FALSE(Matches("^ab+c$", "ac"));
  EXPECT_TRUE(Matches("^ab+c$", "abbc"));
  EXPECT_TRUE(Matches("^ab?c$", "ac"));
  EXPECT_TRUE(Matches("^ab?c$", "abc"));
  EXPECT_FALSE(Matches("^ab?c$", "abbc"));
  EXPECT_TRUE(Matches("^(ab)+$", "ababab"));
  EXPECT_FALSE(Matches("^(ab)+$", "abba"));
  EXPECT_TRUE(Matches("^(ab)?c$", "c"));
}

TEST(PatternMatchTest, OperatorAfterLiteralRunAppliesToLastCharacterOnly) {
  EXPECT_TRUE(Matches("^abc*$", "ab"));
  EXPECT_TRUE(Matches("^abc*$", "abccc"));
  EXPECT_FALSE(Matches("^abc*$", "abcabc"));
}

TEST(PatternMatchTest, GreedyRepetitionGivesBackToLetTheRestMatch) {
  EXPECT_EQ(Found("a.*b", "axxbyyb"), "axxbyyb");
  EXPECT_EQ(Found("a[0-9]*1", "a1211x"), "a1211");
  EXPECT_EQ(Found("x*bc", "abc"), "bc");
  EXPECT_FALSE(Matches("a*bcd", "bcx"));
}

TEST(PatternMatchTest, LeftmostMatchWithFirstAlternativePreferred) {
  EXPECT_EQ(Found("a|ab", "xab"), "a");
  EXPECT_EQ(Found("b", "abcb"), "b");
  PatternEngine engine;
  ASSERT_TRUE(engine.compile("b"));
  ASSERT_TRUE(engine.match("abcb"));
  EXPECT_EQ(engine.group(0), std::make_pair(std::size_t{1}, std::size_t{2}));
}

TEST(PatternMatchTest, GroupKeepsItsLastIteration) {
  PatternEngine engine;
  ASSERT_TRUE(engine.compile("(ab)*c"));
  ASSERT_TRUE(engine.match("ababc"));
  EXPECT_EQ(engine.group(0), std::make_pair(std::size_t{0}, std::size_t{5}));
  EXPECT_EQ(engine.group(1), std::make_pair(std::size_t{2}, std::size_t{4}));
  EXPECT_EQ(engine.group(2), std::nullopt);
}

TEST(PatternMatchTest, EmptyPatternAndEmptyAlternativeMatchEverySubject) {
  for (const char* subject : {"", "10.0.0.1", "x"}) {
    EXPECT_TRUE(Matches("", subject)) << subject;
    EXPECT_TRUE(Matches("x|", subject)) << subject;
  }
}

TEST(PatternMatchTest, NineGroupsCompileAndTenDoNot) {
  EXPECT_TRUE(Matches("(1)(2)(3)(4)(5)(6)(7)(8)(9)", "123456789"));
  EXPECT_TRUE(Matches("(((((((((a)))))))))", "a"));
  for (const char* ten : {"(1)(2)(3)(4)(5)(6)(7)(8)(9)(0)", "((((((((((a))))))))))"}) {
    PatternEngine engine;
    EXPECT_FALSE(engine.compile(ten));
    EXPECT_EQ(engine.firstErrorMessage(), "Mismatched () or []");
    EXPECT_EQ(engine.errorMessage(), "Insufficient expression");
  }
}

struct BadPattern {
  const char* pattern;
  const char* cause;
};

TEST(PatternCompileTest, EachSyntaxFaultLeavesInsufficientExpressionAndCountTwo) {
  const BadPattern cases[] = {
      {"a**", "Illegal nesting"},         {"a+?", "Illegal nesting"},
      {"*a", "Illegal ?, +, or * usage"}, {"a|+", "Illegal ?, +, or * usage"},
      {"(a", "Mismatched () or []"},      {"a)", "Mismatched () or []"},
      {"[a", "Mismatched () or []"},      {"[^", "Mismatched () or []"},
      {"[z-a]", "Illegal [] range"},      {"a\\", "Illegal backslashes"},
      {"(a*)*", "Illegal use of * or +"}, {"(|a)+", "Illegal use of * or +"},
      {"^*", "Illegal use of * or +"},
  };
  for (const BadPattern& bad : cases) {
    PatternEngine engine;
    EXPECT_FALSE(engine.compile(bad.pattern)) << bad.pattern;
    EXPECT_EQ(engine.errorMessage(), "Insufficient expression") << bad.pattern;
    EXPECT_EQ(engine.firstErrorMessage(), bad.cause) << bad.pattern;
    EXPECT_EQ(engine.errorCount(), 2) << bad.pattern;
    EXPECT_TRUE(engine.program().empty());
  }
}

TEST(PatternCompileTest, FailedCompileMatchesNothingAndReportsParseOverload) {
  PatternEngine engine;
  EXPECT_FALSE(engine.compile("[z-a]"));
  EXPECT_FALSE(engine.match("z"));
  EXPECT_EQ(engine.errorMessage(), "Parse overload");
  EXPECT_EQ(engine.errorCount(), 3);
  PatternEngine never;
  EXPECT_FALSE(never.match("x"));
  EXPECT_EQ(never.errorMessage(), "Parse overload");
}

TEST(PatternCompileTest, MissingTextsAreInvalidArguments) {
  PatternEngine engine;
  EXPECT_FALSE(engine.compile(static_cast<const char*>(nullptr)));
  EXPECT_EQ(engine.errorMessage(), "Invalid argument");
  EXPECT_EQ(engine.errorCount(), 1);
  ASSERT_TRUE(engine.compile("a"));
  EXPECT_EQ(engine.errorCount(), 0);
  EXPECT_FALSE(engine.match(static_cast<const char*>(nullptr)));
  EXPECT_EQ(engine.errorMessage(), "Invalid argument");
}

TEST(PatternCompileTest, ProgramLargerThanTheAreaIsRefused) {
  PatternEngine engine;
  // 1 magic + BRANCH + EXACTLY header + literal and NUL + END = 1024 bytes.
  std::string fits(1013, 'a');
  ASSERT_TRUE(engine.compile(fits));
  EXPECT_EQ(engine.program().size(), 1024u);
  EXPECT_TRUE(engine.match("x" + fits));
  EXPECT_FALSE(engine.compile(fits + "a"));
  EXPECT_EQ(engine.errorMessage(), "Pattern too large");
  EXPECT_EQ(engine.errorCount(), 1);
  EXPECT_FALSE(engine.compile("[\x01-\xff][\x01-\xff][\x01-\xff][\x01-\xff]"));
  EXPECT_EQ(engine.errorMessage(), "Pattern too large");
  EXPECT_FALSE(engine.compile(std::string(kMaxPatternLength + 1, '(')));
  EXPECT_EQ(engine.errorMessage(), "Pattern too large");
}

TEST(PatternCompileTest, TextsEndAtTheirFirstNul) {
  EXPECT_TRUE(Matches(std::string("ab\0zz", 5), "ab"));
  EXPECT_TRUE(Matches("b$", std::string("ab\0c", 4)));
}

}  // namespace
}  // namespace talvek::filter
