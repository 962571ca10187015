// Low-level pieces shared by the settings file reader and the defaults
// importer: bounded file reading, line splitting and hex digits. All
// untrusted text enters the settings module through these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace talvek::settings::regtext {

// Longest line either reader accepts; longer lines are cut and flagged.
inline constexpr size_t kMaxLineLength = 64 * 1024;
// Largest file either reader loads.
inline constexpr size_t kMaxFileSize = 64 * 1024 * 1024;

struct FileText {
  int error = 0;         // errno of a failed open or read, 0 otherwise
  bool missing = false;  // the file does not exist
  bool opened = false;   // the file was opened for reading
  std::string content;   // what was read before any error
};

// Reads a regular file whole (at most kMaxFileSize bytes, else EFBIG).
FileText ReadFileBounded(const std::filesystem::path& path);

struct Line {
  std::string_view text;  // without the line end; cut to kMaxLineLength
  bool truncated = false;
};

// Splits text at "\n"; a "\r" before it is part of the line end.
class LineSplitter {
 public:
  explicit LineSplitter(std::string_view text) : rest_(text) {}
  std::optional<Line> next();

 private:
  std::string_view rest_;
  bool done_ = false;
};

// Value of one hex digit, or -1.
int HexDigit(char c);
// Parses exactly `text` as hex digits into a number (at most 8 digits).
std::optional<uint32_t> ParseHex32(std::string_view text);
bool EqualsIgnoringCase(std::string_view a, std::string_view b);
bool HasControlCharacter(std::string_view text);

}  // namespace talvek::settings::regtext
