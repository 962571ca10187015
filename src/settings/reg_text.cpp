#include "settings/reg_text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace talvek::settings::regtext {

namespace {

// Closes a descriptor on every path out.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

FileText ReadFileBounded(const std::filesystem::path& path) {
  FileText result;
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    result.error = errno;
    result.missing = (errno == ENOENT);
    return result;
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) {
    result.error = errno;
    return result;
  }
  if (S_ISDIR(info.st_mode)) {
    result.error = EISDIR;
    return result;
  }
  result.opened = true;
  std::array<char, 64 * 1024> buffer{};
  while (true) {
    ssize_t n = ::read(fd.get(), buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      result.error = errno;
      return result;
    }
    if (n == 0) return result;
    if (result.content.size() + static_cast<size_t>(n) > kMaxFileSize) {
      result.error = EFBIG;
      return result;
    }
    result.content.append(buffer.data(), static_cast<size_t>(n));
  }
}

std::optional<Line> LineSplitter::next() {
  if (done_) return std::nullopt;
  size_t end = rest_.find('\n');
  std::string_view text = rest_.substr(0, end);
  if (end == std::string_view::npos) {
    done_ = true;
    rest_ = {};
    // A final line end does not start another (empty) line.
    if (text.empty()) return std::nullopt;
  } else {
    rest_.remove_prefix(end + 1);
  }
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  Line line;
  line.truncated = text.size() > kMaxLineLength;
  line.text = text.substr(0, kMaxLineLength);
  return line;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<uint32_t> ParseHex32(std::string_view text) {
  if (text.empty() || text.size() > 8) return std::nullopt;
  uint32_t value = 0;
  for (char c : text) {
    int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    value = (value << 4) | static_cast<uint32_t>(digit);
  }
  return value;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

bool HasControlCharacter(std::string_view text) {
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) return true;
  }
  return false;
}

}  // namespace talvek::settings::regtext
