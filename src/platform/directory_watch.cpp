#include "platform/directory_watch.h"

#include <sys/inotify.h>

#include <cerrno>
#include <cstdio>

namespace talvek::platform {

namespace {

constexpr uint32_t kEvents = IN_MODIFY | IN_ATTRIB | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                             IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

}  // namespace

std::optional<uint64_t> DirectoryWatch::changesOf(int fd) {
  std::lock_guard lock(mutex_);
  // Made at the first use, and tried again after a failure (descriptors may come back).
  if (inotify_.get() < 0) inotify_ = UniqueFd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (inotify_.get() < 0) return std::nullopt;
  drainLocked();
  // The /proc link names the very directory the caller opened, wherever it is now.
  char link[40];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  int watch = ::inotify_add_watch(inotify_.get(), link, kEvents);
  if (watch < 0) return std::nullopt;
  auto [entry, added] = changes_.try_emplace(watch, 0);
  if (added && changes_.size() > kMaxWatched) {
    auto oldest = changes_.begin();
    ::inotify_rm_watch(inotify_.get(), oldest->first);
    changes_.erase(oldest);
  }
  return uint64_t{static_cast<uint32_t>(watch)} << 32 | entry->second;
}

void DirectoryWatch::drainLocked() {
  alignas(inotify_event) char buffer[16384];
  for (;;) {
    ssize_t length = ::read(inotify_.get(), buffer, sizeof buffer);
    if (length <= 0) return;  // EAGAIN: nothing more has happened
    for (ssize_t at = 0; at < length;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->mask & IN_Q_OVERFLOW) {
        // Events were lost: whatever was watched may have changed.
        for (auto& [watch, count] : changes_) ++count;
      } else if (event->mask & IN_IGNORED) {
        changes_.erase(event->wd);
      } else if (auto found = changes_.find(event->wd); found != changes_.end()) {
        ++found->second;
      }
    }
  }
}

}  // namespace talvek::platform
