#include "session/control_thread.h"

#include <asio/post.hpp>

namespace talvek::ftp {

ControlThread::ControlThread() : work_(asio::make_work_guard(io_)) {}

ControlThread::~ControlThread() {
  if (thread_.joinable()) {
    io_.stop();
    thread_.join();
  }
}

void ControlThread::start() {
  if (thread_.joinable()) return;
  thread_ = std::thread([this] {
    io_.run();
    std::lock_guard lock(finished_mutex_);
    finished_ = true;
    finished_cv_.notify_all();
  });
}

void ControlThread::post(std::function<void()> work) { asio::post(io_, std::move(work)); }

void ControlThread::end(std::function<void()> last) {
  asio::post(io_, [this, last = std::move(last)] {
    last();
    work_.reset();
    io_.stop();
  });
}

bool ControlThread::join(std::chrono::milliseconds limit) {
  if (!thread_.joinable()) return true;
  std::unique_lock lock(finished_mutex_);
  if (!finished_cv_.wait_for(lock, limit, [this] { return finished_; })) return false;
  lock.unlock();
  thread_.join();
  return true;
}

}  // namespace talvek::ftp
