// A value that is only reachable under its own mutex: lock() hands out a
// handle that holds the lock for as long as it lives, so reading or writing
// the value without the lock does not compile.
#pragma once

#include <mutex>
#include <utility>

namespace talvek::platform {

template <typename T>
class Guarded {
 public:
  template <typename U>
  class Locked {
   public:
    Locked(std::mutex& mutex, U& value) : lock_(mutex), value_(&value) {}
    U* operator->() const { return value_; }
    U& operator*() const { return *value_; }

   private:
    std::unique_lock<std::mutex> lock_;
    U* value_;
  };

  Guarded() = default;
  explicit Guarded(T value) : value_(std::move(value)) {}
  Guarded(const Guarded&) = delete;
  Guarded& operator=(const Guarded&) = delete;

  Locked<T> lock() { return Locked<T>(mutex_, value_); }
  Locked<const T> lock() const { return Locked<const T>(mutex_, value_); }

  // Runs `use` on the value under the lock; returns a copy of what it
  // returns, never a reference that would outlive the lock.
  template <typename Use>
  auto with(Use&& use) {
    std::lock_guard hold(mutex_);
    return std::forward<Use>(use)(value_);
  }
  template <typename Use>
  auto with(Use&& use) const {
    std::lock_guard hold(mutex_);
    return std::forward<Use>(use)(std::as_const(value_));
  }

 private:
  mutable std::mutex mutex_;
  T value_;
};

}  // namespace talvek::platform
