#include "filter/pattern_compiler.h"

#include <cstring>

namespace talvek::filter {
namespace {

constexpr std::string_view kMetacharacters = "^$.[()|?+*\\";
constexpr int kWorst = 0;
constexpr int kHasWidth = 1;  // never matches the empty string
constexpr int kSimple = 2;    // one-character node, usable under STAR or PLUS
constexpr int kSpStart = 4;   // starts with a STAR or PLUS

// Parse results are node positions; 0 is failure (position 0 is the magic
// byte) and kSizing stands for every node of the sizing pass.
constexpr std::size_t kFailed = 0;
constexpr std::size_t kSizing = static_cast<std::size_t>(-1);

bool IsRepeat(char c) { return c == '*' || c == '+' || c == '?'; }

Opcode GroupOp(Opcode base, int group) {
  return static_cast<Opcode>(static_cast<int>(base) + group);
}

}  // namespace

bool PatternCompiler::compile(std::string_view pattern) {
  program_ = PatternProgram{};
  pattern_ = pattern.substr(0, pattern.find('\0'));
  if (pattern_.size() > kMaxPatternLength) {
    errors_.record(PatternError::PatternTooLarge);
    return false;
  }
  int flags = 0;
  if (!runPass(true, flags)) {
    errors_.record(PatternError::InsufficientExpression);
    return false;
  }
  // The area is fixed; a program that would not fit is refused, not written.
  if (size_ > kProgramArea) {
    errors_.record(PatternError::PatternTooLarge);
    return false;
  }
  if (!runPass(false, flags)) {
    program_.code[0] = 0;
    errors_.record(PatternError::InsufficientExpression);
    return false;
  }
  program_.size = emit_;
  computeFacts(flags);
  return true;
}

bool PatternCompiler::runPass(bool sizing, int& flags) {
  sizing_ = sizing;
  overflow_ = false;
  parse_ = 0;
  groups_ = 1;
  size_ = 1;
  emit_ = 0;
  if (!sizing) emitByte(kProgramMagic);
  return parsePattern(false, flags) != kFailed && !overflow_;
}

void PatternCompiler::computeFacts(int flags) {
  std::size_t scan = 1;  // the first top-level BRANCH
  if (!program_.is(program_.next(scan), Opcode::END)) return;
  scan += kNodeHeader;
  if (program_.is(scan, Opcode::EXACTLY)) {
    program_.firstChar = program_.operand(scan).front();
  } else if (program_.is(scan, Opcode::BOL)) {
    program_.anchored = true;
  }
  if (!(flags & kSpStart)) return;
  for (std::size_t guard = 0; scan != 0 && guard < kProgramArea; ++guard) {
    if (program_.is(scan, Opcode::EXACTLY) && program_.operand(scan).size() >= program_.mustLength) {
      program_.mustContain = scan + kNodeHeader;
      program_.mustLength = program_.operand(scan).size();
    }
    scan = program_.next(scan);
  }
}

std::size_t PatternCompiler::parsePattern(bool paren, int& flags) {
  flags = kHasWidth;
  std::size_t ret = 0;
  int group = 0;
  if (paren) {
    if (groups_ >= kGroupCount) return fail(PatternError::MismatchedBrackets);
    group = groups_++;
    ret = emitNode(GroupOp(Opcode::OPEN, group));
  }
  bool first = true;
  do {
    if (!first) ++parse_;  // the "|"
    int branchFlags = 0;
    std::size_t branch = parseBranch(branchFlags);
    if (branch == kFailed) return kFailed;
    if (ret != 0) chain(ret, branch); else ret = branch;
    if (!(branchFlags & kHasWidth)) flags &= ~kHasWidth;
    flags |= branchFlags & kSpStart;
    first = false;
  } while (peek() == '|');

  std::size_t ender = emitNode(paren ? GroupOp(Opcode::CLOSE, group) : Opcode::END);
  chain(ret, ender);
  if (!sizing_) {
    for (std::size_t node = ret, guard = 0; node != 0 && guard < kProgramArea; ++guard) {
      chainOperand(node, ender);
      node = program_.next(node);
    }
  }
  if (paren) {
    if (peek() != ')') return fail(PatternError::MismatchedBrackets);
    ++parse_;
  } else if (!atEnd()) {
    return fail(peek() == ')' ? PatternError::MismatchedBrackets : PatternError::ExtraneousCharacters);
  }
  return ret;
}

std::size_t PatternCompiler::parseBranch(int& flags) {
  flags = kWorst;
  std::size_t ret = emitNode(Opcode::BRANCH);
  std::size_t last = 0;
  while (!atEnd() && peek() != '|' && peek() != ')') {
    int pieceFlags = 0;
    std::size_t latest = parsePiece(pieceFlags);
    if (latest == kFailed) return kFailed;
    flags |= pieceFlags & kHasWidth;
    if (last == 0) flags |= pieceFlags & kSpStart; else chain(last, latest);
    last = latest;
  }
  if (last == 0) emitNode(Opcode::NOTHING);
  return ret;
}

std::size_t PatternCompiler::parsePiece(int& flags) {
  int atomFlags = 0;
  std::size_t ret = parseAtom(atomFlags);
  if (ret == kFailed) return kFailed;
  char op = peek();
  if (!IsRepeat(op)) {
    flags = atomFlags;
    return ret;
  }
  if (!(atomFlags & kHasWidth) && op != '?') return fail(PatternError::IllegalStarOrPlus);
  flags = op == '+' ? kHasWidth : kSpStart;
  buildRepeat(op, atomFlags, ret);
  ++parse_;
  if (IsRepeat(peek())) return fail(PatternError::IllegalNesting);
  return ret;
}

// Wraps the emitted atom at `atom` in the nodes of its repetition operator.
void PatternCompiler::buildRepeat(char op, int atomFlags, std::size_t atom) {
  bool simple = atomFlags & kSimple;
  if (op == '*' && simple) {
    insertNode(Opcode::STAR, atom);
  } else if (op == '*') {
    // x* as a loop: BRANCH (x BACK-to-BRANCH) BRANCH (NOTHING).
    insertNode(Opcode::BRANCH, atom);
    chainOperand(atom, emitNode(Opcode::BACK));
    chainOperand(atom, atom);
    chain(atom, emitNode(Opcode::BRANCH));
    chain(atom, emitNode(Opcode::NOTHING));
  } else if (op == '+' && simple) {
    insertNode(Opcode::PLUS, atom);
  } else if (op == '+') {
    // x+ as x then BRANCH (BACK-to-x) BRANCH (NOTHING).
    std::size_t loop = emitNode(Opcode::BRANCH);
    chain(atom, loop);
    chain(emitNode(Opcode::BACK), atom);
    chain(loop, emitNode(Opcode::BRANCH));
    chain(atom, emitNode(Opcode::NOTHING));
  } else {
    // x? as BRANCH (x) BRANCH (NOTHING).
    insertNode(Opcode::BRANCH, atom);
    chain(atom, emitNode(Opcode::BRANCH));
    std::size_t nothing = emitNode(Opcode::NOTHING);
    chain(atom, nothing);
    chainOperand(atom, nothing);
  }
}

std::size_t PatternCompiler::parseAtom(int& flags) {
  flags = kWorst;
  if (atEnd()) return fail(PatternError::ParseOverload);
  char c = pattern_[parse_++];
  switch (c) {
    case '^': return emitNode(Opcode::BOL);
    case '$': return emitNode(Opcode::EOL);
    case '.':
      flags |= kHasWidth | kSimple;
      return emitNode(Opcode::ANY);
    case '[': return parseSet(flags);
    case '(': {
      int groupFlags = 0;
      std::size_t ret = parsePattern(true, groupFlags);
      if (ret == kFailed) return kFailed;
      flags |= groupFlags & (kHasWidth | kSpStart);
      return ret;
    }
    case '|':
    case ')': return fail(PatternError::ParseOverload);
    case '?':
    case '+':
    case '*': return fail(PatternError::IllegalRepeatUsage);
    case '\\': {
      if (atEnd()) return fail(PatternError::IllegalBackslashes);
      std::size_t ret = emitNode(Opcode::EXACTLY);
      emitByte(static_cast<uint8_t>(pattern_[parse_++]));
      emitByte(0);
      flags |= kHasWidth | kSimple;
      return ret;
    }
    default:
      --parse_;
      return parseLiteral(flags);
  }
}

std::size_t PatternCompiler::parseSet(int& flags) {
  std::size_t ret;
  if (peek() == '^') {
    ret = emitNode(Opcode::ANYBUT);
    ++parse_;
  } else {
    ret = emitNode(Opcode::ANYOF);
  }
  if (peek() == ']' || peek() == '-') emitByte(static_cast<uint8_t>(pattern_[parse_++]));
  while (!atEnd() && peek() != ']') {
    if (peek() != '-') {
      emitByte(static_cast<uint8_t>(pattern_[parse_++]));
      continue;
    }
    ++parse_;
    if (atEnd() || peek() == ']') {
      emitByte('-');
      continue;
    }
    // The range start is already a member; add the characters after it.
    int from = static_cast<uint8_t>(pattern_[parse_ - 2]) + 1;
    int to = static_cast<uint8_t>(pattern_[parse_]);
    if (from > to + 1) return fail(PatternError::IllegalRange);
    for (; from <= to; ++from) emitByte(static_cast<uint8_t>(from));
    ++parse_;
  }
  emitByte(0);
  if (peek() != ']') return fail(PatternError::MismatchedBrackets);
  ++parse_;
  flags |= kHasWidth | kSimple;
  return ret;
}

std::size_t PatternCompiler::parseLiteral(int& flags) {
  std::size_t length = 0;
  while (parse_ + length < pattern_.size() &&
         kMetacharacters.find(pattern_[parse_ + length]) == std::string_view::npos) {
    ++length;
  }
  if (length == 0) return fail(PatternError::ParseOverload);
  // A repetition after a run applies to its last character alone.
  char ender = parse_ + length < pattern_.size() ? pattern_[parse_ + length] : '\0';
  if (length > 1 && IsRepeat(ender)) --length;
  flags |= kHasWidth;
  if (length == 1) flags |= kSimple;
  std::size_t ret = emitNode(Opcode::EXACTLY);
  for (; length > 0; --length) emitByte(static_cast<uint8_t>(pattern_[parse_++]));
  emitByte(0);
  return ret;
}

std::size_t PatternCompiler::emitNode(Opcode op) {
  if (sizing_) {
    size_ += kNodeHeader;
    return kSizing;
  }
  std::size_t at = emit_;
  emitByte(static_cast<uint8_t>(op));
  emitByte(0);
  emitByte(0);
  return at;
}

void PatternCompiler::emitByte(uint8_t byte) {
  if (sizing_) {
    ++size_;
  } else if (emit_ < kProgramArea) {
    program_.code[emit_++] = byte;
  } else {
    overflow_ = true;
  }
}

void PatternCompiler::insertNode(Opcode op, std::size_t at) {
  if (sizing_) {
    size_ += kNodeHeader;
    return;
  }
  if (emit_ + kNodeHeader > kProgramArea || at >= emit_) {
    overflow_ = true;
    return;
  }
  std::memmove(&program_.code[at + kNodeHeader], &program_.code[at], emit_ - at);
  emit_ += kNodeHeader;
  program_.code[at] = static_cast<uint8_t>(op);
  program_.code[at + 1] = 0;
  program_.code[at + 2] = 0;
}

// Points the last node of the chain starting at `node` to `target`.
void PatternCompiler::chain(std::size_t node, std::size_t target) {
  if (sizing_ || node == kSizing || node == 0 || target == 0) return;
  std::size_t last = node;
  for (std::size_t guard = 0; guard < kProgramArea; ++guard) {
    std::size_t next = program_.next(last);
    if (next == 0) break;
    last = next;
  }
  std::size_t offset = program_.is(last, Opcode::BACK) ? last - target : target - last;
  program_.code[last + 1] = static_cast<uint8_t>((offset >> 8) & 0xFF);
  program_.code[last + 2] = static_cast<uint8_t>(offset & 0xFF);
}

// For a BRANCH: chains the end of its alternative to `target`.
void PatternCompiler::chainOperand(std::size_t node, std::size_t target) {
  if (sizing_ || node == kSizing || !program_.is(node, Opcode::BRANCH)) return;
  chain(node + kNodeHeader, target);
}

std::size_t PatternCompiler::fail(PatternError error) {
  errors_.record(error);
  return kFailed;
}

}  // namespace talvek::filter
