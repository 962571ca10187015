// The control thread: one thread running one event loop on which every
// socket of the server lives. Other threads never touch sockets; they post
// work here as closures, which own (capture by value) what they touch.
#pragma once

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace talvek::ftp {

class ControlThread {
 public:
  ControlThread();
  ~ControlThread();  // ends the thread if it still runs
  ControlThread(const ControlThread&) = delete;
  ControlThread& operator=(const ControlThread&) = delete;

  void start();
  // Queues `work`; run on the control thread in posting order.
  void post(std::function<void()> work);
  // Queues `last`; the thread ends once it has run.
  void end(std::function<void()> last);
  // Waits for the thread to end after end() (bounded).
  bool join(std::chrono::milliseconds limit = std::chrono::seconds(5));
  bool running() const { return thread_.joinable(); }
  bool onThisThread() const { return std::this_thread::get_id() == thread_.get_id(); }

  asio::io_context& context() { return io_; }
  // Held while a connection is closed.
  std::mutex& lock() { return lock_; }

 private:
  asio::io_context io_;
  asio::executor_work_guard<asio::io_context::executor_type> work_;
  std::mutex lock_;
  std::thread thread_;
  std::mutex finished_mutex_;
  std::condition_variable finished_cv_;
  bool finished_ = false;
};

}  // namespace talvek::ftp
