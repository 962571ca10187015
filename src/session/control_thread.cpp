#include "session/control_thread.h"

#include <asio/post.hpp>

namespace talvek::ftp {

ControlThread::ControlThread(Handler handler)
    : handler_(std::move(handler)), work_(asio::make_work_guard(io_)) {}

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

void ControlThread::post(ControlMessage message) {
  asio::post(io_, [this, message = std::move(message)] {
    if (message.id == ControlMessageId::EndThread) {
      handler_(message);
      work_.reset();
      io_.stop();
      return;
    }
    handler_(message);
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
