// The pattern engine's error numbers, their texts, and the bounds that keep a
// hostile pattern or subject from exhausting the stack or the control thread.
#pragma once

#include <cstddef>
#include <string_view>

namespace talvek::filter {

enum class PatternError : int {
  InvalidArgument = 0,
  InsufficientExpression = 1,
  ParseOverload = 2,
  MismatchedBrackets = 3,
  ExtraneousCharacters = 4,
  IllegalStarOrPlus = 5,
  IllegalNesting = 6,
  IllegalRange = 7,
  IllegalRepeatUsage = 8,
  IllegalBackslashes = 9,
  // Ours: a match stopped at the recursion or step bound (counts as no match).
  MatchLimitExceeded = 10,
  // Ours: the pattern text or its program is larger than the program area.
  PatternTooLarge = 11,
};

std::string_view PatternErrorText(PatternError error);

// Longest pattern text accepted before compiling.
inline constexpr std::size_t kMaxPatternLength = 1024;
// Deepest nesting of the recursive node matcher in one match call.
inline constexpr int kMaxMatchDepth = 400;
// Node visits, repetitions scanned and retries allowed in one match call.
inline constexpr std::size_t kMaxMatchSteps = 100000;

}  // namespace talvek::filter
