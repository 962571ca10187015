#include "protocol/command_line_reader.h"

namespace talvek::ftp {

void CommandLineReader::append(std::string_view bytes) { buffer_.append(bytes); }

std::optional<CommandLineReader::Line> CommandLineReader::next() {
  for (;;) {
    // A CR may end one piece and its LF begin the next: rescan one byte back.
    size_t from = scanned_ > 0 ? scanned_ - 1 : 0;
    size_t end = buffer_.find("\r\n", from);
    if (end == std::string::npos) {
      scanned_ = buffer_.size();
      // A trailing CR may pair with the next LF: it survives a discard and
      // does not count toward the limit, so a line is judged the same
      // however its bytes arrive.
      bool trailing_cr = !buffer_.empty() && buffer_.back() == '\r';
      bool overlong = !discarding_ && buffer_.size() - (trailing_cr ? 1 : 0) > kMaxLine;
      if (discarding_ || overlong) {
        buffer_.assign(trailing_cr ? "\r" : "");
        scanned_ = buffer_.size();
      }
      if (overlong) {
        discarding_ = true;
        return Line{{}, true};
      }
      return std::nullopt;
    }
    std::string text = buffer_.substr(0, end);
    buffer_.erase(0, end + 2);
    scanned_ = 0;
    if (discarding_) {
      discarding_ = false;
      continue;
    }
    if (text.size() > kMaxLine) return Line{{}, true};
    if (size_t nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
    return Line{std::move(text), false};
  }
}

std::optional<ParsedCommand> ParseCommandLine(std::string_view line) {
  size_t start = 0;
  while (start < line.size() && static_cast<unsigned char>(line[start]) >= 242) ++start;
  while (start < line.size() && static_cast<unsigned char>(line[start]) < 65) ++start;
  if (start >= line.size()) return std::nullopt;
  ParsedCommand parsed;
  parsed.line = std::string(line.substr(start));
  size_t space = parsed.line.find(' ');
  parsed.keyword = parsed.line.substr(0, space);
  if (space != std::string::npos) parsed.argument = parsed.line.substr(space + 1);
  for (char& c : parsed.keyword)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return parsed;
}

}  // namespace talvek::ftp
