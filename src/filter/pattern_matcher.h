// Runs a compiled program against one subject with the recursive
// backtracking matcher, bounded in depth and steps so that no pattern and
// subject can exhaust the stack or hold the calling thread.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "filter/pattern_program.h"

namespace talvek::filter {

inline constexpr std::size_t kNoPosition = static_cast<std::size_t>(-1);

// Group starts and ends as subject positions; kNoPosition when unset.
struct MatchGroups {
  std::array<std::size_t, kGroupCount> starts;
  std::array<std::size_t, kGroupCount> ends;
  MatchGroups() { clear(); }
  void clear() {
    starts.fill(kNoPosition);
    ends.fill(kNoPosition);
  }
};

// One matcher per match call; it reads the program and writes the groups.
class PatternMatcher {
 public:
  PatternMatcher(const PatternProgram& program, PatternErrors& errors, MatchGroups& groups)
      : program_(program), errors_(errors), groups_(groups) {}

  // True when the program matches somewhere in `subject` (leftmost match).
  // Stopping at a bound records PatternError::MatchLimitExceeded and fails.
  bool match(std::string_view subject);

  std::size_t steps() const { return steps_; }
  int deepest() const { return deepest_; }
  bool limitExceeded() const { return limitExceeded_; }

 private:
  bool tryAt(std::size_t start);
  bool matchFrom(std::size_t node, int depth);
  bool matchAlternatives(std::size_t branch, int depth);
  bool matchRepeat(std::size_t node, std::size_t next, int depth);
  bool matchGroupMark(std::size_t node, std::size_t next, int depth);
  std::size_t repeatCount(std::size_t operandNode);
  bool charge(std::size_t steps);
  bool stopAtLimit();
  bool corrupt();

  const PatternProgram& program_;
  PatternErrors& errors_;
  MatchGroups& groups_;
  std::string_view subject_;
  std::size_t input_ = 0;
  std::size_t steps_ = 0;
  int deepest_ = 0;
  bool aborted_ = false;
  bool limitExceeded_ = false;
};

}  // namespace talvek::filter
