// Whole-file replacement that a crash cannot tear, and the advisory lock that
// serialises read-modify-write edits of one file between processes.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace talvek::platform {

// Writes `content` to `target` atomically with permission bits `mode`: the
// bytes go to an unnamed file in the target's directory, are flushed, and
// are linked in by a rename. Creates missing parent directories. Returns 0,
// else the errno of the step that failed; the old file then stays whole.
int WriteFileAtomically(const std::filesystem::path& target, std::string_view content,
                        mode_t mode = 0644);

// Reads the regular file `path` whole into `content`. Returns 0, ENOENT
// for a missing file, EFBIG above `max_bytes`, EISDIR for a directory, or
// the errno of the failed open or read (`content` is then empty).
int ReadWholeFile(const std::filesystem::path& path, size_t max_bytes, std::string& content);

// Holds flock(LOCK_EX) on "<target>.lock" from construction to destruction,
// so that a read of `target`, its change and the rename over it are one step
// for every process that edits it through this lock. Once held, it removes
// the temporary files of saves of `target` that were interrupted (a holder
// knows no other save is running). Use on one thread; not copyable.
class FileEditLock {
 public:
  explicit FileEditLock(const std::filesystem::path& target);
  ~FileEditLock();
  FileEditLock(const FileEditLock&) = delete;
  FileEditLock& operator=(const FileEditLock&) = delete;
  // 0 while held, else the errno of the failed open or lock (then unlocked).
  int error() const { return error_; }

 private:
  int fd_ = -1;
  int error_ = 0;
};

}  // namespace talvek::platform
