#include "platform/async_socket.h"

#include <asio/dispatch.hpp>
#include <asio/post.hpp>
#include <asio/write.hpp>
#include <sys/socket.h>

#include <vector>

#include "platform/socket_error_code.h"

namespace talvek::platform {

namespace {
// How long a closing socket may take to hand its last replies to a peer that
// does not read.
constexpr auto kCloseLinger = std::chrono::seconds(3);
constexpr int kReceiveBurst = 16;
}  // namespace

AsyncSocket::AsyncSocket(asio::io_context& io) : io_(io), socket_(io), close_timer_(io), stall_timer_(io) {}

AsyncSocket::~AsyncSocket() {
  std::error_code ignored;
  socket_.close(ignored);
}

void AsyncSocket::startNotifications() {
  open_ = true;
  std::error_code ignored;
  socket_.non_blocking(true, ignored);
  // Urgent bytes stay in the stream: clients that send ABOR as urgent data
  // would otherwise lose the last byte of the command line.
  socket_.set_option(asio::socket_base::out_of_band_inline(true), ignored);
  socket_.set_option(asio::ip::tcp::no_delay(true), ignored);
  // Bytes may have arrived before notifications began.
  asio::post(io_, [self = shared_from_this()] { self->serviceReceive(); });
}

void AsyncSocket::armReceive() {
  if (!open_ || closing_) return;
  socket_.async_wait(asio::socket_base::wait_read,
                     [self = shared_from_this()](const std::error_code& error) {
                       if (!error) self->serviceReceive();
                     });
}

void AsyncSocket::serviceReceive() {
  // Readiness is reported once for everything that has arrived, so keep
  // notifying while receives return data; after a burst, yield to the other
  // sockets and continue from the queue.
  for (int round = 0; round < kReceiveBurst; ++round) {
    if (!open_ || closing_) return;
    if (receiveHeld()) {
      // Nothing is read until the peer takes its replies or the owner lets go.
      receive_waiting_ = true;
      return;
    }
    received_data_ = false;
    short_read_ = false;
    OnReceive(0);
    if (peer_state_ != 0) {
      reportClose(peer_state_ == 1 ? 0 : last_error_);
      return;
    }
    // Nothing came, or less than was asked for: the socket is drained, and
    // waiting (which re-checks readiness) costs less than a read that finds
    // nothing.
    if ((!received_data_ || short_read_) && !receiveHeld()) {
      armReceive();
      return;
    }
  }
  asio::post(io_, [self = shared_from_this()] { self->serviceReceive(); });
}

int AsyncSocket::receive(char* buffer, size_t size) {
  if (!open_) return -1;
  // Urgent bytes arrive inline; the mark tells that some were sent.
  if (::sockatmark(socket_.native_handle()) == 1) {
    if (!at_urgent_mark_) {
      at_urgent_mark_ = true;
      OnOutOfBandData(0);
    }
  } else {
    at_urgent_mark_ = false;
  }
  std::error_code error;
  size_t n = socket_.read_some(asio::buffer(buffer, size), error);
  if (!error) {
    received_data_ = n > 0;
    short_read_ = n < size;
    return static_cast<int>(n);
  }
  if (error == asio::error::would_block || error == asio::error::try_again) return -1;
  if (error == asio::error::eof) {
    peer_state_ = 1;
    return 0;
  }
  peer_state_ = 2;
  last_error_ = SocketErrorCodeFrom(error);
  return -1;
}

void AsyncSocket::send(std::string bytes) {
  asio::dispatch(io_, [self = shared_from_this(), bytes = std::move(bytes)]() mutable {
    if (!self->open_ || bytes.empty()) return;
    self->queued_bytes_ += bytes.size();
    self->outgoing_.push_back(std::move(bytes));
    if (self->queued_bytes_ > kSendQueueLimit && !self->stall_armed_) self->armStallTimer();
    if (self->writing_) return;
    // The write waits for the end of the current turn of the loop, so that
    // replies made in it (a 125 and the 226 of a transfer finished at once)
    // leave in one segment.
    self->writing_ = true;
    asio::post(self->io_, [self] { self->writeNext(); });
  });
}

void AsyncSocket::armStallTimer() {
  stall_armed_ = true;
  stall_timer_.expires_after(stall_limit_);
  stall_timer_.async_wait([self = shared_from_this()](const std::error_code& error) {
    if (error) return;
    self->stall_armed_ = false;
    if (self->open_ && self->queued_bytes_ > kSendQueueLimit) self->OnSendStalled();
  });
}

void AsyncSocket::holdReceive() { hold_receive_ = true; }

void AsyncSocket::resumeReceive() {
  hold_receive_ = false;
  resumeIfWaiting();
}

void AsyncSocket::resumeIfWaiting() {
  if (!receive_waiting_ || receiveHeld() || !open_ || closing_) return;
  receive_waiting_ = false;
  asio::post(io_, [self = shared_from_this()] { self->serviceReceive(); });
}

void AsyncSocket::writeNext() {
  if (!open_) return;
  if (outgoing_.empty()) {
    writing_ = false;
    if (closing_) finishClose();
    return;
  }
  writing_ = true;
  // Everything queued goes in one gathered write.
  std::vector<asio::const_buffer> buffers;
  buffers.reserve(outgoing_.size());
  for (const auto& bytes : outgoing_) buffers.push_back(asio::buffer(bytes));
  asio::async_write(socket_, buffers,
                    [self = shared_from_this(), count = outgoing_.size()](const std::error_code& error, size_t) {
                      if (!self->open_) return;
                      if (error) {
                        self->outgoing_.clear();
                        self->queued_bytes_ = 0;
                        self->writing_ = false;
                        if (self->closing_) self->finishClose();
                        return;
                      }
                      for (size_t i = 0; i < count; ++i) {
                        self->queued_bytes_ -= self->outgoing_.front().size();
                        self->outgoing_.pop_front();
                      }
                      if (self->queued_bytes_ <= kSendQueueLimit) {
                        if (self->stall_armed_) {
                          self->stall_armed_ = false;
                          self->stall_timer_.cancel();
                        }
                        self->resumeIfWaiting();
                      }
                      self->writeNext();
                    });
}

void AsyncSocket::closeAfterSending() {
  asio::dispatch(io_, [self = shared_from_this()] {
    if (!self->open_ || self->closing_) return;
    self->closing_ = true;
    if (!self->writing_) {
      self->finishClose();
      return;
    }
    self->close_timer_.expires_after(kCloseLinger);
    self->close_timer_.async_wait([self](const std::error_code& error) {
      if (!error) self->finishClose();
    });
  });
}

void AsyncSocket::closeNow() {
  asio::dispatch(io_, [self = shared_from_this()] {
    self->closing_ = true;
    self->finishClose();
  });
}

void AsyncSocket::finishClose() {
  if (!open_) return;
  open_ = false;
  outgoing_.clear();
  queued_bytes_ = 0;
  std::error_code ignored;
  close_timer_.cancel();
  stall_timer_.cancel();
  socket_.shutdown(asio::socket_base::shutdown_both, ignored);
  socket_.close(ignored);
}

void AsyncSocket::reportClose(int error_code) {
  if (close_reported_) return;
  close_reported_ = true;
  OnClose(error_code);
}

bool AsyncSocket::peerName(std::string& address, uint16_t& port) const {
  std::error_code error;
  auto endpoint = socket_.remote_endpoint(error);
  if (error) return false;
  address = endpoint.address().to_string();
  port = endpoint.port();
  return true;
}

bool AsyncSocket::socketName(std::string& address, uint16_t& port) const {
  std::error_code error;
  auto endpoint = socket_.local_endpoint(error);
  if (error) return false;
  address = endpoint.address().to_string();
  port = endpoint.port();
  return true;
}

void AsyncSocket::connect(const asio::ip::tcp::endpoint& peer) {
  socket_.async_connect(peer, [self = shared_from_this()](const std::error_code& error) {
    int code = SocketErrorCodeFrom(error);
    if (!error) self->startNotifications();
    self->OnConnect(code);
  });
}

}  // namespace talvek::platform
