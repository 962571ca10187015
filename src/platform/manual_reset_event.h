// An event that stays signalled until reset, with a bounded wait.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace talvek::platform {

class ManualResetEvent {
 public:
  explicit ManualResetEvent(bool signalled) : signalled_(signalled) {}

  void set() {
    {
      std::lock_guard lock(mutex_);
      signalled_ = true;
    }
    changed_.notify_all();
  }
  void reset() {
    std::lock_guard lock(mutex_);
    signalled_ = false;
  }
  // True when the event was (or became) signalled before the time-out.
  bool waitFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return signalled_; });
  }
  bool isSet() const {
    std::lock_guard lock(mutex_);
    return signalled_;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool signalled_;
};

}  // namespace talvek::platform
