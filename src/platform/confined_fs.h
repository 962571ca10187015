// A directory tree that file operations cannot leave. Every path is resolved
// by the kernel beneath an open descriptor of the root (openat2 with
// RESOLVE_BENEATH), so no spelling, symbolic link or concurrent swap reaches
// outside it; links that stay inside keep working. Paths are relative to the
// root with "/" separators; "" is the root itself. Immutable once open:
// shared by a session and its transfers and usable from any thread.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <ctime>
#include <memory>
#include <string>

#include "platform/unique_fd.h"

namespace talvek::platform {

struct DirCloser {
  void operator()(DIR* directory) const { ::closedir(directory); }
};
using DirStream = std::unique_ptr<DIR, DirCloser>;

// A value or the errno of the step that failed.
template <typename T>
struct FsResult {
  T value{};
  int error = 0;
  bool ok() const { return error == 0; }
};

class ConfinedFs {
 public:
  // Opens `root` (an operator-given directory, followed as written); the
  // error when it cannot be opened. `walk_only` forces the fallback
  // resolver used where openat2 is missing.
  static FsResult<std::shared_ptr<const ConfinedFs>> Open(const std::string& root, bool walk_only = false);

  // The root as opened, ending with "/".
  const std::string& root() const { return root_; }

  // open(2) beneath the root; `mode` applies with O_CREAT.
  FsResult<UniqueFd> open(const std::string& path, int flags, mode_t mode = 0) const;
  // What `path` names, links followed (beneath the root only).
  FsResult<struct stat> stat(const std::string& path) const;
  // What `path` names, its last component not followed.
  FsResult<struct stat> lstat(const std::string& path) const;
  // A directory for reading; its descriptor (dirfd) is the directory itself.
  FsResult<DirStream> openDir(const std::string& path) const;
  // Each returns 0 or errno. The last component must be a name: "", "."
  // and ".." are refused, so the root itself is never removed or moved.
  int makeDirectory(const std::string& path, mode_t mode = 0755) const;
  int removeDirectory(const std::string& path) const;
  int removeFile(const std::string& path) const;
  // Never replaces an existing `to`.
  int rename(const std::string& from, const std::string& to) const;
  // Sets the modification time of what `path` names (links followed
  // beneath the root); 0 or errno.
  int setModified(const std::string& path, std::time_t when) const;

 private:
  ConfinedFs(UniqueFd root_fd, std::string root, bool walk_only)
      : root_fd_(std::move(root_fd)), root_(std::move(root)), walk_only_(walk_only) {}
  FsResult<UniqueFd> walk(const std::string& path, int flags, mode_t mode) const;
  // The directory holding the last component of `path`, and that name.
  FsResult<UniqueFd> parentOf(const std::string& path, std::string& name) const;

  UniqueFd root_fd_;
  std::string root_;
  bool walk_only_;
};

}  // namespace talvek::platform
