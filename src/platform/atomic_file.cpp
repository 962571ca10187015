#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <string>

#include "platform/unique_fd.h"

namespace talvek::platform {

namespace {

constexpr std::string_view kTemporaryMarker = ".tmp-";

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

std::string TemporaryName(const std::filesystem::path& target) {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string name = target.string() + std::string(kTemporaryMarker);
  for (int i = 0; i < 6; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
  return name;
}

// Gives the unnamed file a temporary name beside the target (retrying on a
// clash); "" and errno set when linking fails.
std::string LinkUnnamed(int fd, const std::filesystem::path& target) {
  std::string proc_path = "/proc/self/fd/" + std::to_string(fd);
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string name = TemporaryName(target);
    if (::linkat(AT_FDCWD, proc_path.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return name;
    if (errno != EEXIST) return {};
  }
  return {};
}

// An unnamed file in `directory`, or a named temporary one where the file
// system has no unnamed files; `name` is set in the second case.
int CreateTemporary(const std::filesystem::path& target, const std::string& directory, std::string& name) {
  int fd = ::open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
  name = target.string() + std::string(kTemporaryMarker) + "XXXXXX";
  return ::mkostemp(name.data(), O_CLOEXEC);
}

void SyncDirectory(const std::string& directory) {
  int dir_fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd < 0) return;
  ::fsync(dir_fd);
  ::close(dir_fd);
}

}  // namespace

int WriteFileAtomically(const std::filesystem::path& target, std::string_view content, mode_t mode) {
  std::error_code ignored;
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ignored);
  std::string directory = target.has_parent_path() ? target.parent_path().string() : ".";
  std::string name;
  UniqueFd file(CreateTemporary(target, directory, name));
  if (file.get() < 0) return errno;
  auto fail = [&](int error) {
    if (!name.empty()) ::unlink(name.c_str());
    return error;
  };
  if (::fchmod(file.get(), mode) != 0) return fail(errno);
  if (int error = WriteAll(file.get(), content)) return fail(error);
  if (::fsync(file.get()) != 0) return fail(errno);
  // Until here a killed process leaves no name behind; from the link to the
  // rename it leaves one, which the next locked save removes.
  if (name.empty() && (name = LinkUnnamed(file.get(), target)).empty()) return errno;
  if (::close(file.release()) != 0) return fail(errno);
  if (::rename(name.c_str(), target.c_str()) != 0) return fail(errno);
  SyncDirectory(directory);  // makes the rename itself durable
  return 0;
}

int ReadWholeFile(const std::filesystem::path& path, size_t max_bytes, std::string& content) {
  content.clear();
  UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (file.get() < 0) return errno;
  struct stat status {};
  if (::fstat(file.get(), &status) != 0) return errno;
  if (S_ISDIR(status.st_mode)) return EISDIR;
  if (!S_ISREG(status.st_mode)) return EINVAL;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(file.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int error = errno;
      content.clear();
      return error;
    }
    if (n == 0) return 0;
    if (content.size() + static_cast<size_t>(n) > max_bytes) {
      content.clear();
      return EFBIG;
    }
    content.append(buffer, static_cast<size_t>(n));
  }
}

FileEditLock::FileEditLock(const std::filesystem::path& target) {
  std::error_code ignored;
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ignored);
  std::string lock_path = target.string() + ".lock";
  fd_ = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) {
    error_ = errno;
    return;
  }
  int result;
  while ((result = ::flock(fd_, LOCK_EX)) != 0 && errno == EINTR) {
  }
  if (result != 0) {
    error_ = errno;
    ::close(fd_);
    fd_ = -1;
    return;
  }
  std::filesystem::path directory = target.has_parent_path() ? target.parent_path() : ".";
  std::string prefix = target.filename().string() + std::string(kTemporaryMarker);
  std::filesystem::directory_iterator it(directory, ignored), end;
  for (; !ignored && it != end; it.increment(ignored)) {
    std::string name = it->path().filename().string();
    if (name.size() == prefix.size() + 6 && name.starts_with(prefix)) {
      std::error_code not_removed;
      std::filesystem::remove(it->path(), not_removed);
    }
  }
}

FileEditLock::~FileEditLock() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

}  // namespace talvek::platform
