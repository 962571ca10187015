#include "filter/pattern_matcher.h"

namespace talvek::filter {
namespace {

constexpr uint8_t Kind(Opcode op) { return static_cast<uint8_t>(op); }

bool InSet(std::string_view set, char c) { return set.find(c) != std::string_view::npos; }

}  // namespace

bool PatternMatcher::match(std::string_view subject) {
  subject_ = subject.substr(0, subject.find('\0'));
  if (!program_.valid()) {
    errors_.record(PatternError::ParseOverload);
    return false;
  }
  if (program_.mustContain != 0) {
    std::string_view must(reinterpret_cast<const char*>(&program_.code[program_.mustContain]),
                          program_.mustLength);
    if (subject_.find(must) == std::string_view::npos) return false;
  }
  bool matched = false;
  if (program_.anchored) {
    matched = tryAt(0);
  } else if (program_.firstChar != 0) {
    for (std::size_t at = subject_.find(program_.firstChar); at != std::string_view::npos && !aborted_;
         at = subject_.find(program_.firstChar, at + 1)) {
      if ((matched = tryAt(at))) break;
    }
  } else {
    // Every position up to and including the end, so "$" and empty matches work.
    for (std::size_t at = 0; at <= subject_.size() && !aborted_; ++at) {
      if ((matched = tryAt(at))) break;
    }
  }
  if (limitExceeded_) errors_.record(PatternError::MatchLimitExceeded);
  return matched && !aborted_;
}

bool PatternMatcher::tryAt(std::size_t start) {
  groups_.clear();
  input_ = start;
  if (!matchFrom(1, 1)) return false;
  groups_.starts[0] = start;
  groups_.ends[0] = input_;
  return true;
}

bool PatternMatcher::matchFrom(std::size_t node, int depth) {
  if (depth > kMaxMatchDepth) return stopAtLimit();
  if (depth > deepest_) deepest_ = depth;
  while (node != 0) {
    if (!charge(1)) return false;
    std::size_t next = program_.next(node);
    uint8_t op = program_.op(node);
    bool atEnd = input_ >= subject_.size();
    switch (op) {
      case Kind(Opcode::END): return true;
      case Kind(Opcode::BOL):
        if (input_ != 0) return false;
        break;
      case Kind(Opcode::EOL):
        if (!atEnd) return false;
        break;
      case Kind(Opcode::ANY):
        if (atEnd) return false;
        ++input_;
        break;
      case Kind(Opcode::EXACTLY): {
        std::string_view literal = program_.operand(node);
        if (literal.empty()) return corrupt();
        if (subject_.substr(input_, literal.size()) != literal) return false;
        input_ += literal.size();
        break;
      }
      case Kind(Opcode::ANYOF):
      case Kind(Opcode::ANYBUT):
        if (atEnd || InSet(program_.operand(node), subject_[input_]) != (op == Kind(Opcode::ANYOF))) {
          return false;
        }
        ++input_;
        break;
      case Kind(Opcode::NOTHING):
      case Kind(Opcode::BACK): break;
      case Kind(Opcode::BRANCH):
        // A lone alternative needs no backtracking point.
        if (program_.is(next, Opcode::BRANCH)) return matchAlternatives(node, depth);
        next = node + kNodeHeader;
        break;
      case Kind(Opcode::STAR):
      case Kind(Opcode::PLUS): return matchRepeat(node, next, depth);
      default:
        if (op > Kind(Opcode::OPEN) && op < Kind(Opcode::OPEN) + kGroupCount) {
          return matchGroupMark(node, next, depth);
        }
        if (op > Kind(Opcode::CLOSE) && op < Kind(Opcode::CLOSE) + kGroupCount) {
          return matchGroupMark(node, next, depth);
        }
        return corrupt();
    }
    node = next;
  }
  return corrupt();  // a node that needs a successor has none
}

bool PatternMatcher::matchAlternatives(std::size_t branch, int depth) {
  do {
    std::size_t save = input_;
    if (matchFrom(branch + kNodeHeader, depth + 1)) return true;
    if (aborted_) return false;
    input_ = save;
    branch = program_.next(branch);
  } while (branch != 0 && program_.is(branch, Opcode::BRANCH));
  return false;
}

bool PatternMatcher::matchRepeat(std::size_t node, std::size_t next, int depth) {
  char nextChar = program_.is(next, Opcode::EXACTLY) ? program_.operand(next).front() : '\0';
  std::size_t minimum = program_.is(node, Opcode::STAR) ? 0 : 1;
  std::size_t save = input_;
  std::size_t count = repeatCount(node + kNodeHeader);
  if (aborted_) return false;
  // Greedy: the longest run first, giving back one repetition per retry.
  for (std::size_t n = count + 1; n-- > minimum;) {
    if (!charge(1)) return false;
    input_ = save + n;
    if (nextChar == '\0' || (input_ < subject_.size() && subject_[input_] == nextChar)) {
      if (matchFrom(next, depth + 1)) return true;
      if (aborted_) return false;
    }
  }
  return false;
}

bool PatternMatcher::matchGroupMark(std::size_t node, std::size_t next, int depth) {
  std::size_t save = input_;
  if (!matchFrom(next, depth + 1)) return false;
  uint8_t op = program_.op(node);
  bool open = op < Kind(Opcode::CLOSE);
  std::size_t group = op - (open ? Kind(Opcode::OPEN) : Kind(Opcode::CLOSE));
  std::size_t& mark = open ? groups_.starts[group] : groups_.ends[group];
  if (mark == kNoPosition) mark = save;
  return true;
}

// How many times the one-character operand matches from the input position;
// the scan itself is paid for in steps, so a long subject cannot dodge the bound.
std::size_t PatternMatcher::repeatCount(std::size_t operandNode) {
  std::string_view rest = subject_.substr(input_);
  std::size_t budget = kMaxMatchSteps - steps_;
  std::size_t limit = rest.size() < budget ? rest.size() : budget;
  std::string_view set = program_.operand(operandNode);
  std::size_t count = 0;
  switch (program_.op(operandNode)) {
    case Kind(Opcode::ANY): count = limit; break;
    case Kind(Opcode::EXACTLY):
      if (set.empty()) return corrupt(), 0;
      while (count < limit && rest[count] == set.front()) ++count;
      break;
    case Kind(Opcode::ANYOF):
      while (count < limit && InSet(set, rest[count])) ++count;
      break;
    case Kind(Opcode::ANYBUT):
      while (count < limit && !InSet(set, rest[count])) ++count;
      break;
    default: return corrupt(), 0;
  }
  if (count == budget && count < rest.size()) return stopAtLimit(), 0;
  charge(count);
  return count;
}

bool PatternMatcher::charge(std::size_t steps) {
  if (steps > kMaxMatchSteps - steps_) return stopAtLimit();
  steps_ += steps;
  return true;
}

bool PatternMatcher::stopAtLimit() {
  limitExceeded_ = true;
  aborted_ = true;
  return false;
}

// Unreachable with programs from the compiler; stops the whole match.
bool PatternMatcher::corrupt() {
  if (!aborted_) errors_.record(PatternError::ParseOverload);
  aborted_ = true;
  return false;
}

}  // namespace talvek::filter
