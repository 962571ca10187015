#include "platform/async_listen_socket.h"

#include <algorithm>
#include <cerrno>

#include <asio/ip/v6_only.hpp>

#include "platform/socket_error_code.h"

namespace talvek::platform {

namespace {
constexpr std::chrono::milliseconds kFirstPause{50}, kLongestPause{1000};
}  // namespace

AsyncListenSocket::AsyncListenSocket(asio::io_context& io) : io_(io), acceptor_(io), pause_timer_(io) {}

AsyncListenSocket::~AsyncListenSocket() { close(); }

int AsyncListenSocket::create(const std::string& address, uint16_t port) {
  std::error_code error;
  asio::ip::address bind_address = asio::ip::address_v4::any();
  if (!address.empty()) {
    bind_address = asio::ip::make_address(address, error);
    if (error) return SocketErrorCodeFromErrno(EADDRNOTAVAIL);
  }
  asio::ip::tcp::endpoint endpoint(bind_address, port);
  acceptor_.open(endpoint.protocol(), error);
  if (error) return SocketErrorCodeFrom(error);
  acceptor_.set_option(asio::socket_base::reuse_address(true), error);
  // "::" takes IPv6 clients only; IPv4 ones come through their own listener.
  if (bind_address.is_v6()) acceptor_.set_option(asio::ip::v6_only(true), error);
  acceptor_.bind(endpoint, error);
  if (error) {
    std::error_code ignored;
    acceptor_.close(ignored);
    return SocketErrorCodeFrom(error);
  }
  return 0;
}

int AsyncListenSocket::listen(int backlog) {
  std::error_code error;
  acceptor_.listen(backlog, error);
  if (error) return SocketErrorCodeFrom(error);
  acceptor_.non_blocking(true, error);
  armAccept();
  return 0;
}

void AsyncListenSocket::armAccept() {
  if (!acceptor_.is_open()) return;
  acceptor_.async_wait(asio::socket_base::wait_read,
                       [self = shared_from_this()](const std::error_code& error) {
                         if (error || !self->acceptor_.is_open()) return;
                         // Readiness is reported once for all pending
                         // connections, so take them until none is left.
                         do {
                           self->accepted_ = false;
                           self->OnAccept(0);
                         } while (self->accepted_ && self->acceptor_.is_open());
                         if (!self->exhausted_error_) {
                           self->armAccept();
                           return;
                         }
                         // The pending connection stays ready: waiting for
                         // readiness again would spin until descriptors free up.
                         if (self->pause_.count() == 0) self->OnAcceptExhausted(self->exhausted_error_);
                         self->exhausted_error_ = 0;
                         self->pause_ = std::min(self->pause_.count() ? self->pause_ * 2 : kFirstPause, kLongestPause);
                         self->pause_timer_.expires_after(self->pause_);
                         self->pause_timer_.async_wait([self](const std::error_code& e) {
                           if (!e) self->armAccept();
                         });
                       });
}

bool AsyncListenSocket::accept(AsyncSocket& socket) {
  std::error_code error;
  acceptor_.accept(socket.socket(), error);
  if (error) {
    int code = error.value();
    if (code == EMFILE || code == ENFILE || code == ENOBUFS || code == ENOMEM) exhausted_error_ = code;
    return false;
  }
  accepted_ = true;
  pause_ = std::chrono::milliseconds(0);
  socket.startNotifications();
  return true;
}

void AsyncListenSocket::close() {
  std::error_code ignored;
  pause_timer_.cancel();
  acceptor_.close(ignored);
}

uint16_t AsyncListenSocket::port() const {
  std::error_code error;
  auto endpoint = acceptor_.local_endpoint(error);
  return error ? 0 : endpoint.port();
}

std::string AsyncListenSocket::address() const {
  std::error_code error;
  auto endpoint = acceptor_.local_endpoint(error);
  return error ? std::string() : endpoint.address().to_string();
}

}  // namespace talvek::platform
