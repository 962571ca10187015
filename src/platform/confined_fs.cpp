#include "platform/confined_fs.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <deque>
#include <vector>

namespace talvek::platform {

namespace {

// Set once the kernel has said it has no openat2.
std::atomic<bool> g_no_openat2{false};

// Symbolic links expanded in one resolution, as the kernel allows.
constexpr int kMaxLinks = 40;

std::deque<std::string> Components(const std::string& path) {
  std::deque<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

bool Usable(const std::string& path) { return path.find('\0') == std::string::npos; }

FsResult<struct stat> StatOf(int fd) {
  FsResult<struct stat> result;
  if (::fstat(fd, &result.value) != 0) result.error = errno;
  return result;
}

}  // namespace

FsResult<std::shared_ptr<const ConfinedFs>> ConfinedFs::Open(const std::string& root, bool walk_only) {
  FsResult<std::shared_ptr<const ConfinedFs>> result;
  if (root.empty() || !Usable(root)) {
    result.error = EINVAL;
    return result;
  }
  UniqueFd fd(::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0) {
    result.error = errno;
    return result;
  }
  std::string shown = root.back() == '/' ? root : root + "/";
  result.value = std::shared_ptr<const ConfinedFs>(new ConfinedFs(std::move(fd), std::move(shown), walk_only));
  return result;
}

FsResult<UniqueFd> ConfinedFs::open(const std::string& path, int flags, mode_t mode) const {
  FsResult<UniqueFd> result;
  if (!Usable(path) || (!path.empty() && path.front() == '/')) {
    result.error = Usable(path) ? EXDEV : EINVAL;
    return result;
  }
  const char* name = path.empty() ? "." : path.c_str();
  if (!walk_only_ && !g_no_openat2.load()) {
    open_how how{};
    how.flags = static_cast<uint64_t>(flags | O_CLOEXEC);
    how.mode = (flags & O_CREAT) ? mode : 0;  // openat2 refuses a mode without O_CREAT
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    // EAGAIN: a rename elsewhere raced a ".." step; the kernel asks for a retry.
    for (int attempt = 0; attempt < 16; ++attempt) {
      long fd = ::syscall(SYS_openat2, root_fd_.get(), name, &how, sizeof how);
      if (fd >= 0) {
        result.value = UniqueFd(static_cast<int>(fd));
        return result;
      }
      if (errno != EAGAIN && errno != EINTR) break;
    }
    // EXDEV: the way out may be an absolute link that names a place inside.
    if (errno != ENOSYS && errno != EXDEV) {
      result.error = errno;
      return result;
    }
    if (errno == ENOSYS) g_no_openat2 = true;
  }
  return walk(path, flags, mode);
}

// Without openat2, or for an absolute link: one component at a time with
// O_NOFOLLOW from the root's descriptor, links expanded here, ".." never
// above the root. A component swapped for a link between the steps makes a
// step fail; it is never followed.
FsResult<UniqueFd> ConfinedFs::walk(const std::string& path, int flags, mode_t mode) const {
  FsResult<UniqueFd> result;
  // As the kernel does: a final "/" names a directory, never a file to create.
  if (!path.empty() && path.back() == '/') {
    if (flags & O_CREAT) {
      result.error = EISDIR;
      return result;
    }
    flags |= O_DIRECTORY;
  }
  std::vector<UniqueFd> below;  // the directories entered, innermost last
  std::deque<std::string> todo = Components(path);
  int links = 0;
  auto here = [&] { return below.empty() ? root_fd_.get() : below.back().get(); };
  auto fail = [&](int error) {
    result.error = error;
    return std::move(result);
  };
  while (!todo.empty()) {
    std::string name = std::move(todo.front());
    todo.pop_front();
    if (name == ".") continue;
    if (name == "..") {
      if (below.empty()) return fail(EXDEV);
      below.pop_back();
      continue;
    }
    struct stat info {};
    bool exists = ::fstatat(here(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists && errno != ENOENT) return fail(errno);
    if (exists && S_ISLNK(info.st_mode)) {
      // As the kernel does: an exclusive create never goes through a link.
      if (todo.empty() && (flags & O_CREAT) && (flags & O_EXCL)) return fail(EEXIST);
      std::vector<char> target(static_cast<size_t>(info.st_size > 0 ? info.st_size : 255) + 1);
      ssize_t length = ::readlinkat(here(), name.c_str(), target.data(), target.size());
      if (length < 0) return fail(errno);
      if (++links > kMaxLinks) return fail(ELOOP);
      std::string text(target.data(), static_cast<size_t>(length));
      if (text.empty()) return fail(ENOENT);
      if (text.front() == '/') {
        // An absolute link is followed only when it names a place below the
        // root as written, and then from the root's descriptor.
        std::string bare = root_.substr(0, root_.size() - 1);
        if (text != bare && text.compare(0, root_.size(), root_) != 0) return fail(EXDEV);
        text = text.size() > root_.size() ? text.substr(root_.size()) : std::string();
        below.clear();
      }
      auto expanded = Components(text);
      todo.insert(todo.begin(), expanded.begin(), expanded.end());
      continue;
    }
    if (todo.empty()) {
      int fd = ::openat(here(), name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
      if (fd < 0) return fail(errno);
      result.value = UniqueFd(fd);
      return result;
    }
    if (!exists) return fail(ENOENT);
    int fd = ::openat(here(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return fail(errno);
    below.emplace_back(fd);
  }
  int fd = ::openat(here(), ".", flags | O_CLOEXEC, mode);
  if (fd < 0) return fail(errno);
  result.value = UniqueFd(fd);
  return result;
}

FsResult<struct stat> ConfinedFs::stat(const std::string& path) const {
  auto file = open(path, O_PATH);
  if (!file.ok()) return {{}, file.error};
  return StatOf(file.value.get());
}

FsResult<struct stat> ConfinedFs::lstat(const std::string& path) const {
  std::string name;
  auto parent = parentOf(path, name);
  if (!parent.ok()) return parent.error == EBUSY ? stat(path) : FsResult<struct stat>{{}, parent.error};
  FsResult<struct stat> result;
  if (::fstatat(parent.value.get(), name.c_str(), &result.value, AT_SYMLINK_NOFOLLOW) != 0) result.error = errno;
  return result;
}

FsResult<DirStream> ConfinedFs::openDir(const std::string& path) const {
  auto directory = open(path, O_RDONLY | O_DIRECTORY);
  if (!directory.ok()) return {nullptr, directory.error};
  DIR* stream = ::fdopendir(directory.value.get());
  if (!stream) return {nullptr, errno};
  directory.value.release();
  return {DirStream(stream), 0};
}

FsResult<UniqueFd> ConfinedFs::parentOf(const std::string& path, std::string& name) const {
  std::string trimmed = path;
  while (!trimmed.empty() && trimmed.back() == '/') trimmed.pop_back();
  size_t slash = trimmed.find_last_of('/');
  name = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
  // The root, or a spelling of a directory rather than a name in one.
  if (name.empty() || name == "." || name == "..") return {UniqueFd(), EBUSY};
  return open(slash == std::string::npos ? std::string() : trimmed.substr(0, slash), O_PATH | O_DIRECTORY);
}

int ConfinedFs::makeDirectory(const std::string& path, mode_t mode) const {
  std::string name;
  auto parent = parentOf(path, name);
  if (!parent.ok()) return parent.error == EBUSY ? EEXIST : parent.error;
  return ::mkdirat(parent.value.get(), name.c_str(), mode) == 0 ? 0 : errno;
}

int ConfinedFs::removeDirectory(const std::string& path) const {
  std::string name;
  auto parent = parentOf(path, name);
  if (!parent.ok()) return parent.error;
  return ::unlinkat(parent.value.get(), name.c_str(), AT_REMOVEDIR) == 0 ? 0 : errno;
}

int ConfinedFs::removeFile(const std::string& path) const {
  std::string name;
  auto parent = parentOf(path, name);
  if (!parent.ok()) return parent.error;
  return ::unlinkat(parent.value.get(), name.c_str(), 0) == 0 ? 0 : errno;
}

int ConfinedFs::setModified(const std::string& path, std::time_t when) const {
  auto target = open(path, O_PATH);
  if (!target.ok()) return target.error;
  // A path descriptor takes no futimens; its /proc link names the very object
  // the confined open found, whatever happens to its name meanwhile.
  char link[40];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", target.value.get());
  const timespec times[2] = {{0, UTIME_OMIT}, {when, 0}};
  return ::utimensat(AT_FDCWD, link, times, 0) == 0 ? 0 : errno;
}

int ConfinedFs::rename(const std::string& from, const std::string& to) const {
  std::string from_name, to_name;
  auto from_dir = parentOf(from, from_name);
  if (!from_dir.ok()) return from_dir.error;
  auto to_dir = parentOf(to, to_name);
  if (!to_dir.ok()) return to_dir.error;
  int a = from_dir.value.get(), b = to_dir.value.get();
  if (::syscall(SYS_renameat2, a, from_name.c_str(), b, to_name.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != ENOSYS && errno != EINVAL) return errno;
  // Without RENAME_NOREPLACE: a hard link never replaces its target (files only).
  if (::linkat(a, from_name.c_str(), b, to_name.c_str(), 0) != 0) return errno;
  if (::unlinkat(a, from_name.c_str(), 0) != 0) {
    int error = errno;
    ::unlinkat(b, to_name.c_str(), 0);
    return error;
  }
  return 0;
}

}  // namespace talvek::platform
