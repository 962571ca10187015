// Control-connection bytes through the line reader, the command-line parser
// and the command table, without sockets. The lines must not depend on how
// the bytes were cut into reads, the reader's buffer stays bounded, and every
// parsed line is a well-formed keyword and argument.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/command_line_reader.h"
#include "protocol/command_table.h"
#include "fuzz_check.h"

namespace {

using talvek::ftp::CommandLineReader;

struct Seen {
  std::vector<std::string> lines;
  size_t too_long = 0;
  bool operator==(const Seen&) const = default;
};

// Feeds `bytes` in pieces of the sizes `piece` returns, draining the reader after each.
template <typename PieceSize>
Seen Read(std::string_view bytes, PieceSize piece) {
  CommandLineReader reader;
  Seen seen;
  for (size_t at = 0, index = 0; at < bytes.size(); ++index) {
    size_t length = std::min(piece(index), bytes.size() - at);
    reader.append(bytes.substr(at, length));
    at += length;
    while (auto line = reader.next()) {
      if (line->too_long) {
        FUZZ_CHECK(line->text.empty(), "an over-long line carries no text");
        ++seen.too_long;
        continue;
      }
      FUZZ_CHECK(line->text.size() <= CommandLineReader::kMaxLine, "line within the limit");
      FUZZ_CHECK(line->text.find('\0') == std::string::npos, "line cut at NUL");
      FUZZ_CHECK(line->text.find("\r\n") == std::string::npos, "line holds no line end");
      seen.lines.push_back(std::move(line->text));
    }
    // At most one line short of its end, and a CR that may start it.
    FUZZ_CHECK(reader.pending() <= CommandLineReader::kMaxLine + 1, "reader buffer bounded");
  }
  return seen;
}

void CheckParsed(const std::string& raw) {
  auto parsed = talvek::ftp::ParseCommandLine(raw);
  size_t start = 0;
  while (start < raw.size() && static_cast<unsigned char>(raw[start]) >= 242) ++start;
  while (start < raw.size() && static_cast<unsigned char>(raw[start]) < 'A') ++start;
  FUZZ_CHECK(parsed.has_value() == (start < raw.size()), "a line with a keyword byte parses");
  if (!parsed) return;
  FUZZ_CHECK(std::string_view(raw).ends_with(parsed->line), "the parsed line is the raw line's tail");
  const std::string& keyword = parsed->keyword;
  FUZZ_CHECK(!keyword.empty(), "keyword present");
  FUZZ_CHECK(keyword.find(' ') == std::string::npos, "keyword ends at the first space");
  for (size_t i = 0; i < keyword.size(); ++i) {
    char original = parsed->line[i];
    char expected = original >= 'a' && original <= 'z' ? static_cast<char>(original - 32) : original;
    FUZZ_CHECK(keyword[i] == expected, "keyword is the line's first word in upper case");
  }
  if (keyword.size() < parsed->line.size())
    FUZZ_CHECK(parsed->argument == parsed->line.substr(keyword.size() + 1), "argument follows the space unchanged");
  else
    FUZZ_CHECK(parsed->argument.empty(), "no argument without a space");

  const auto& table = talvek::ftp::CommandTable::instance();
  auto command = table.find(keyword);
  int slot = table.slotOf(keyword);
  FUZZ_CHECK(command.has_value() == (slot >= 0), "find and slotOf agree");
  if (command) FUZZ_CHECK(keyword.size() == 3 || keyword.size() == 4, "keywords have 3 or 4 letters");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  Seen whole = Read(bytes, [&](size_t) { return bytes.size(); });
  // Piece sizes taken from the input itself, 1 to 16 bytes, and single bytes.
  Seen pieces = Read(bytes, [&](size_t index) { return size_t{1} + (data[index % size] & 15); });
  FUZZ_CHECK(pieces == whole, "lines do not depend on how the bytes were cut");
  if (size <= CommandLineReader::kMaxLine + 16)
    FUZZ_CHECK(Read(bytes, [](size_t) { return size_t{1}; }) == whole, "byte by byte reads the same lines");
  for (const auto& line : whole.lines) CheckParsed(line);
  return 0;
}
