// The compiled form of a pattern: a byte program of linked nodes plus the
// facts that let the matcher skip start positions. Written by the compiler,
// read by the matcher; owned by the engine object.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "filter/pattern_errors.h"

namespace talvek::filter {

// Node kinds; OPEN n is OPEN + n and CLOSE n is CLOSE + n for groups 1 to 9.
enum class Opcode : uint8_t {
  END = 0,
  BOL = 1,
  EOL = 2,
  ANY = 3,
  ANYOF = 4,
  ANYBUT = 5,
  BRANCH = 6,
  BACK = 7,
  EXACTLY = 8,
  NOTHING = 9,
  STAR = 10,
  PLUS = 11,
  OPEN = 20,
  CLOSE = 30,
};

inline constexpr uint8_t kProgramMagic = 156;
inline constexpr std::size_t kProgramArea = 1024;
inline constexpr int kGroupCount = 10;
// Opcode byte and the two offset bytes; the operand follows.
inline constexpr std::size_t kNodeHeader = 3;

// Position 0 holds the magic byte, so 0 doubles as "no node".
struct PatternProgram {
  std::array<uint8_t, kProgramArea> code{};
  std::size_t size = 0;
  char firstChar = 0;
  bool anchored = false;
  std::size_t mustContain = 0;  // position of an EXACTLY operand, 0 = none
  std::size_t mustLength = 0;

  bool valid() const { return code[0] == kProgramMagic; }
  uint8_t op(std::size_t node) const { return node < kProgramArea ? code[node] : 0xFF; }
  bool is(std::size_t node, Opcode kind) const { return op(node) == static_cast<uint8_t>(kind); }
  // The successor of `node`, or 0 when it has none or the link leaves the area.
  std::size_t next(std::size_t node) const;
  // The NUL-terminated operand of `node` (a literal or a character set).
  std::string_view operand(std::size_t node) const;
};

// The error count and the text of the last recorded error.
struct PatternErrors {
  int count = 0;
  std::string message;
  std::string first;  // the first text since the last clear: the specific cause

  void clear() {
    count = 0;
    message.clear();
    first.clear();
  }
  void record(PatternError error);
};

}  // namespace talvek::filter
