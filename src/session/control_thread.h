// The control thread: one thread running one event loop on which every
// socket of the server lives. Other threads never touch sockets; they post
// typed messages here.
#pragma once

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace talvek::server {
struct ConnectionRecord;
}
namespace talvek::transfer {
class DataSocket;
}

namespace talvek::ftp {

enum class ControlMessageId : int {
  DisposeDataSocket = 101,  // a finished or aborted data socket
  IdleSweep = 110,          // close connections idle too long
  StartServer = 114,        // open the control listener
  StopServer = 115,         // close the listener and every connection
  CloseConnection = 117,    // close one connection (remove it, or drop its unregistered record)
  EndThread = 119,          // end the control thread
};

struct ControlMessage {
  static ControlMessage Of(ControlMessageId id) { return ControlMessage{id}; }
  // Close a registered connection and remove it.
  static ControlMessage Close(std::weak_ptr<server::ConnectionRecord> record) {
    ControlMessage message{ControlMessageId::CloseConnection};
    message.remove = true;
    message.record = std::move(record);
    return message;
  }
  // Close a refused connection and drop its never-registered record.
  static ControlMessage Drop(std::shared_ptr<server::ConnectionRecord> record) {
    ControlMessage message{ControlMessageId::CloseConnection};
    message.owned_record = std::move(record);
    return message;
  }
  static ControlMessage Dispose(std::weak_ptr<transfer::DataSocket> socket) {
    ControlMessage message{ControlMessageId::DisposeDataSocket};
    message.data_socket = std::move(socket);
    return message;
  }

  ControlMessageId id;
  // CloseConnection: true removes the registered connection; false drops
  // a record that was never registered (then `owned_record` carries it).
  bool remove = false;
  std::weak_ptr<server::ConnectionRecord> record{};
  std::shared_ptr<server::ConnectionRecord> owned_record{};
  std::weak_ptr<transfer::DataSocket> data_socket{};
};

class ControlThread {
 public:
  using Handler = std::function<void(const ControlMessage&)>;

  explicit ControlThread(Handler handler);
  ~ControlThread();  // ends the thread if it still runs
  ControlThread(const ControlThread&) = delete;
  ControlThread& operator=(const ControlThread&) = delete;

  void start();
  // Queues a message; handled on the control thread in posting order.
  void post(ControlMessage message);
  // Waits for the thread to end after EndThread (bounded).
  bool join(std::chrono::milliseconds limit = std::chrono::seconds(5));
  bool running() const { return thread_.joinable(); }
  bool onThisThread() const { return std::this_thread::get_id() == thread_.get_id(); }

  asio::io_context& context() { return io_; }
  // Held while CloseConnection is handled.
  std::mutex& lock() { return lock_; }

 private:
  Handler handler_;
  asio::io_context io_;
  asio::executor_work_guard<asio::io_context::executor_type> work_;
  std::mutex lock_;
  std::thread thread_;
  std::mutex finished_mutex_;
  std::condition_variable finished_cv_;
  bool finished_ = false;
};

}  // namespace talvek::ftp
