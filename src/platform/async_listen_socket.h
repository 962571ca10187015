// A listening TCP socket on the control thread's event loop that reports
// pending connections through the virtual OnAccept notification. When the
// process runs out of descriptors or memory, accepting pauses for a growing
// while instead of spinning on a connection it cannot take.
#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

#include <memory>
#include <string>

#include "platform/async_socket.h"

namespace talvek::platform {

class AsyncListenSocket : public std::enable_shared_from_this<AsyncListenSocket> {
 public:
  explicit AsyncListenSocket(asio::io_context& io);
  virtual ~AsyncListenSocket();
  AsyncListenSocket(const AsyncListenSocket&) = delete;
  AsyncListenSocket& operator=(const AsyncListenSocket&) = delete;

  // Opens and binds to `address` (dotted IPv4 or IPv6 text, an IPv6 socket
  // taking IPv6 clients only; empty means every IPv4 address)
  // and `port` (0 picks a free one). Returns 0 or a socket error code.
  int create(const std::string& address, uint16_t port);
  // Starts listening and delivering OnAccept. Returns 0 or a socket error code.
  int listen(int backlog);
  // Accepts one pending connection into `socket` and starts its
  // notifications. Returns false when none was pending or on an error.
  bool accept(AsyncSocket& socket);
  void close();
  bool isOpen() const { return acceptor_.is_open(); }
  // The bound port, 0 when closed.
  uint16_t port() const;
  // The bound address as text.
  std::string address() const;
  asio::io_context& context() { return io_; }

 protected:
  virtual void OnAccept(int /*error_code*/) {}
  // Accepting paused for want of descriptors or memory (errno `error`);
  // reported once until an accept succeeds again.
  virtual void OnAcceptExhausted(int /*error*/) {}

 private:
  void armAccept();

  asio::io_context& io_;
  asio::ip::tcp::acceptor acceptor_;
  asio::steady_timer pause_timer_;
  std::chrono::milliseconds pause_{0};  // 0 while accepting works
  int exhausted_error_ = 0;            // errno of the last failed accept that calls for a pause
  bool accepted_ = false;
};

}  // namespace talvek::platform
