// The filter's regular-expression engine: compile a pattern once, then match
// subjects against it, unanchored (a match anywhere in the subject counts).
// One object per compile-and-match; not shared between threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "filter/pattern_errors.h"
#include "filter/pattern_matcher.h"
#include "filter/pattern_program.h"

namespace talvek::filter {

class PatternEngine {
 public:
  // Texts end at their first NUL.
  bool compile(std::string_view pattern);
  // Non-zero when the compiled pattern matches somewhere in the subject. A
  // match stopped at kMaxMatchDepth or kMaxMatchSteps fails and records
  // PatternError::MatchLimitExceeded.
  bool match(std::string_view subject);

  int errorCount() const { return errors_.count; }
  // The last recorded error's text ("" when none).
  const std::string& errorMessage() const { return errors_.message; }
  // The first error recorded since compile began: the specific cause, where
  // errorMessage() shows the pass failure that followed it.
  const std::string& firstErrorMessage() const { return errors_.first; }

  bool lastMatchHitLimit() const { return limitHit_; }
  std::size_t lastMatchSteps() const { return steps_; }
  int lastMatchDepth() const { return depth_; }

  // Group n (0 = whole match) of the last successful match as [begin, end).
  std::optional<std::pair<std::size_t, std::size_t>> group(int n) const;
  // The compiled program, magic byte first; empty after a failed compile.
  std::span<const uint8_t> program() const;

 private:
  PatternProgram program_;
  PatternErrors errors_;
  MatchGroups groups_;
  bool limitHit_ = false;
  std::size_t steps_ = 0;
  int depth_ = 0;
};

// Compiles `pattern` and matches it against `subject` with a fresh engine;
// a pattern that fails to compile or a match past the bound is no match.
bool PatternMatches(std::string_view pattern, std::string_view subject);

}  // namespace talvek::filter
