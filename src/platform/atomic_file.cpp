#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace talvek::platform {

namespace {

// Closes the descriptor and removes the temporary file unless released.
class TemporaryFile {
 public:
  TemporaryFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~TemporaryFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  int closeNow() {
    int result = ::close(fd_);
    fd_ = -1;
    return result;
  }
  void keep() { path_.clear(); }

 private:
  int fd_;
  std::string path_;
};

int WriteAll(int fd, std::string_view content) {
  size_t written = 0;
  while (written < content.size()) {
    ssize_t n = ::write(fd, content.data() + written, content.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    written += static_cast<size_t>(n);
  }
  return 0;
}

}  // namespace

int WriteFileAtomically(const std::filesystem::path& target, std::string_view content, mode_t mode) {
  std::error_code ignored;
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ignored);
  std::string pattern = target.string() + ".tmp-XXXXXX";
  int fd = ::mkstemp(pattern.data());
  if (fd < 0) return errno;
  TemporaryFile temporary(fd, pattern);
  if (::fchmod(fd, mode) != 0) return errno;
  if (int error = WriteAll(fd, content)) return error;
  if (::fsync(fd) != 0) return errno;
  if (temporary.closeNow() != 0) return errno;
  if (::rename(temporary.path().c_str(), target.c_str()) != 0) return errno;
  temporary.keep();
  // Make the rename itself durable.
  std::string directory = target.has_parent_path() ? target.parent_path().string() : ".";
  int dir_fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd >= 0) {
    ::fsync(dir_fd);
    ::close(dir_fd);
  }
  return 0;
}

}  // namespace talvek::platform
