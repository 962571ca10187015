#include "filter/pattern_program.h"

namespace talvek::filter {

std::string_view PatternErrorText(PatternError error) {
  switch (error) {
    case PatternError::InvalidArgument: return "Invalid argument";
    case PatternError::InsufficientExpression: return "Insufficient expression";
    case PatternError::ParseOverload: return "Parse overload";
    case PatternError::MismatchedBrackets: return "Mismatched () or []";
    case PatternError::ExtraneousCharacters: return "Extraneous characters";
    case PatternError::IllegalStarOrPlus: return "Illegal use of * or +";
    case PatternError::IllegalNesting: return "Illegal nesting";
    case PatternError::IllegalRange: return "Illegal [] range";
    case PatternError::IllegalRepeatUsage: return "Illegal ?, +, or * usage";
    case PatternError::IllegalBackslashes: return "Illegal backslashes";
    case PatternError::MatchLimitExceeded: return "Match exceeded the recursion or step limit";
    case PatternError::PatternTooLarge: return "Pattern too large";
  }
  return "Parse overload";
}

std::size_t PatternProgram::next(std::size_t node) const {
  if (node == 0 || node + kNodeHeader > kProgramArea) return 0;
  std::size_t offset = (std::size_t{code[node + 1]} << 8) | code[node + 2];
  if (offset == 0) return 0;
  if (is(node, Opcode::BACK)) return offset <= node ? node - offset : 0;
  return node + offset < kProgramArea ? node + offset : 0;
}

std::string_view PatternProgram::operand(std::size_t node) const {
  std::size_t begin = node + kNodeHeader;
  std::size_t end = begin;
  while (end < kProgramArea && code[end] != 0) ++end;
  if (begin >= kProgramArea) return {};
  return {reinterpret_cast<const char*>(code.data() + begin), end - begin};
}

void PatternErrors::record(PatternError error) {
  ++count;
  message = PatternErrorText(error);
  if (first.empty()) first = message;
}

}  // namespace talvek::filter
