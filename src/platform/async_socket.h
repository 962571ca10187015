// A TCP stream socket driven by the control thread's event loop that reports
// readiness through virtual notifications (receive, close, out-of-band data,
// connect), so protocol classes only override what they react to.
//
// Owned through std::shared_ptr: pending notifications keep the object alive
// until they have run, so closing it from inside a notification is safe.
#pragma once

#include <asio/ip/tcp.hpp>
#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

namespace talvek::platform {

class AsyncSocket : public std::enable_shared_from_this<AsyncSocket> {
 public:
  explicit AsyncSocket(asio::io_context& io);
  virtual ~AsyncSocket();
  AsyncSocket(const AsyncSocket&) = delete;
  AsyncSocket& operator=(const AsyncSocket&) = delete;

  asio::ip::tcp::socket& socket() { return socket_; }
  asio::io_context& context() { return io_; }

  // Begins delivering notifications for an accepted or connected socket.
  void startNotifications();

  // Reads what has arrived, without waiting (OnReceive calls it once per
  // notification; notifications repeat while data keeps coming): the byte count, 0 when the peer
  // has closed, -1 on an error or when nothing is there yet.
  int receive(char* buffer, size_t size);

  // Queues bytes for sending. Bytes go out in the order queued, partial
  // writes resume, and nothing is lost while the socket is open. May be
  // called from any thread.
  void send(std::string bytes);

  // Back-pressure: while more than kSendQueueLimit bytes wait to be sent, or
  // while the owner holds receiving, no OnReceive is delivered; a queue that
  // stays over the limit for the stall limit ends in OnSendStalled.
  static constexpr size_t kSendQueueLimit = 256 * 1024;
  size_t queuedBytes() const { return queued_bytes_; }
  bool receiveHeld() const { return hold_receive_ || queued_bytes_ > kSendQueueLimit; }
  void holdReceive();
  void resumeReceive();
  void setSendStallLimit(std::chrono::milliseconds limit) { stall_limit_ = limit; }

  // Closes once the queued bytes are written (at most a few seconds), then
  // stops all notifications. Safe to call more than once, from any thread.
  void closeAfterSending();
  // Closes at once, dropping unsent bytes.
  void closeNow();
  bool isOpen() const { return open_; }

  // Peer and local address as text (dotted IPv4 or IPv6) and port; false when unknown.
  bool peerName(std::string& address, uint16_t& port) const;
  bool socketName(std::string& address, uint16_t& port) const;

  // Starts a connect; OnConnect reports the result (0 or a socket error code).
  void connect(const asio::ip::tcp::endpoint& peer);

 protected:
  virtual void OnReceive(int /*error_code*/) {}
  virtual void OnClose(int /*error_code*/) {}
  virtual void OnOutOfBandData(int /*error_code*/) {}
  virtual void OnConnect(int /*error_code*/) {}
  // The peer has not taken its replies within the stall limit; closes by default.
  virtual void OnSendStalled() { closeNow(); }

 private:
  void armReceive();
  void serviceReceive();
  void writeNext();
  void finishClose();
  void reportClose(int error_code);
  void resumeIfWaiting();
  void armStallTimer();

  asio::io_context& io_;
  asio::ip::tcp::socket socket_;
  asio::steady_timer close_timer_;
  asio::steady_timer stall_timer_;
  std::chrono::milliseconds stall_limit_ = std::chrono::minutes(10);
  std::deque<std::string> outgoing_;
  size_t queued_bytes_ = 0;
  bool hold_receive_ = false;
  bool receive_waiting_ = false;  // a receive notification was held back
  bool stall_armed_ = false;
  bool writing_ = false;
  bool open_ = false;
  bool closing_ = false;
  bool close_reported_ = false;
  bool at_urgent_mark_ = false;
  bool received_data_ = false;
  bool short_read_ = false;  // the last read took less than it asked for
  int peer_state_ = 0;  // 0 open, 1 closed by peer, 2 error
  int last_error_ = 0;
};

}  // namespace talvek::platform
