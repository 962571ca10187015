// Cuts the bytes a client sends on its control connection into command
// lines. This is the one place untrusted control bytes are framed: a line
// ends with CR LF, may arrive in pieces, and is bounded in length.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace talvek::ftp {

class CommandLineReader {
 public:
  static constexpr size_t kMaxLine = 4096;

  struct Line {
    std::string text;       // without CR LF; cut at a NUL byte
    bool too_long = false;  // the line outgrew kMaxLine and was dropped
  };

  // Adds received bytes.
  void append(std::string_view bytes);
  // The next complete line, or nothing until more bytes arrive. A line that
  // outgrows the limit is reported once as too_long and the rest of it, up
  // to its CR LF, is discarded.
  std::optional<Line> next();
  size_t pending() const { return buffer_.size(); }

 private:
  std::string buffer_;
  size_t scanned_ = 0;      // bytes of buffer_ known to hold no CR LF
  bool discarding_ = false; // inside an over-long line
};

// The keyword and argument of a command line, as the dispatcher takes them:
// leading Telnet command bytes (242..255) are removed, then leading bytes
// below 'A'; the keyword is the text before the first space, upper-cased;
// the argument is everything after it, unchanged.
struct ParsedCommand {
  std::string line;     // the line after the leading bytes were removed
  std::string keyword;  // upper case
  std::string argument;
};
std::optional<ParsedCommand> ParseCommandLine(std::string_view line);

}  // namespace talvek::ftp
