// A listening socket in one of two roles: the control listener, which
// accepts clients into new connection records, or a passive listener, which
// accepts the one data connection of a PASV request for its record.
#pragma once

#include <memory>

#include "platform/async_listen_socket.h"

namespace talvek::server {
struct ConnectionRecord;
}  // namespace talvek::server

namespace talvek::session {
class SessionHost;
}  // namespace talvek::session

namespace talvek::ftp {

class ListenSocket : public platform::AsyncListenSocket {
 public:
  // The control listener.
  ListenSocket(asio::io_context& io, session::SessionHost& server);
  // A passive listener serving `record`.
  ListenSocket(asio::io_context& io, session::SessionHost& server,
               std::weak_ptr<server::ConnectionRecord> record);

  bool passive() const { return passive_; }
  const std::weak_ptr<server::ConnectionRecord>& record() const { return record_; }

 protected:
  void OnAccept(int error_code) override;
  void OnAcceptExhausted(int error) override;

 private:
  void acceptControlConnection();
  void acceptDataConnection();

  session::SessionHost& server_;
  bool passive_;
  std::weak_ptr<server::ConnectionRecord> record_;
};

}  // namespace talvek::ftp
