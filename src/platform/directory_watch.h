// What changed inside directories, as the kernel reports it (inotify): a
// write to a file, a chmod or a restored time changes a directory's listing
// without changing the directory's own modification time.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>

#include "platform/unique_fd.h"

namespace talvek::platform {

class DirectoryWatch {
 public:
  // Directories watched at once; the one watched longest gives way.
  static constexpr size_t kMaxWatched = 1024;

  // A value that differs from every earlier one for the open directory `fd`
  // once anything in it has been created, removed, renamed, written or had
  // its attributes changed; nothing when it cannot be watched (no inotify,
  // or the user's watches are used up).
  std::optional<uint64_t> changesOf(int fd);

 private:
  void drainLocked();

  std::mutex mutex_;
  UniqueFd inotify_;
  // Watch descriptor -> changes seen. The kernel hands out ever larger
  // descriptors, so the first is the oldest.
  std::map<int, uint32_t> changes_;
};

}  // namespace talvek::platform
