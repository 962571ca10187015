// Compiles a pattern text into a PatternProgram by recursive descent, run
// twice: a sizing pass that only counts bytes, then the emitting pass.
// One compiler per compile; it writes into the caller's program and errors.
#pragma once

#include <cstddef>
#include <string_view>

#include "filter/pattern_program.h"

namespace talvek::filter {

class PatternCompiler {
 public:
  PatternCompiler(PatternProgram& program, PatternErrors& errors)
      : program_(program), errors_(errors) {}

  // Records the failing condition's error (then "Insufficient expression" for
  // a parse failure) and leaves no valid program when it returns false.
  bool compile(std::string_view pattern);

 private:
  bool runPass(bool sizing, int& flags);
  void computeFacts(int flags);

  std::size_t parsePattern(bool paren, int& flags);
  std::size_t parseBranch(int& flags);
  std::size_t parsePiece(int& flags);
  std::size_t parseAtom(int& flags);
  std::size_t parseSet(int& flags);
  std::size_t parseLiteral(int& flags);
  void buildRepeat(char op, int atomFlags, std::size_t atom);

  std::size_t emitNode(Opcode op);
  void emitByte(uint8_t byte);
  void insertNode(Opcode op, std::size_t at);
  void chain(std::size_t node, std::size_t target);
  void chainOperand(std::size_t node, std::size_t target);
  std::size_t fail(PatternError error);

  bool atEnd() const { return parse_ >= pattern_.size(); }
  char peek() const { return atEnd() ? '\0' : pattern_[parse_]; }

  PatternProgram& program_;
  PatternErrors& errors_;
  std::string_view pattern_;
  std::size_t parse_ = 0;
  int groups_ = 1;
  bool sizing_ = true;
  bool overflow_ = false;
  std::size_t emit_ = 0;
  std::size_t size_ = 0;
};

}  // namespace talvek::filter
