#include "session/listen_socket.h"

#include <cstring>

#include "session/control_connection.h"
#include "session/connection_record.h"
#include "session/session_host.h"

namespace talvek::ftp {

ListenSocket::ListenSocket(asio::io_context& io, session::SessionHost& server)
    : AsyncListenSocket(io), server_(server), passive_(false) {}

ListenSocket::ListenSocket(asio::io_context& io, session::SessionHost& server,
                           std::weak_ptr<server::ConnectionRecord> record)
    : AsyncListenSocket(io), server_(server), passive_(true), record_(std::move(record)) {}

void ListenSocket::OnAccept(int) {
  if (passive_)
    acceptDataConnection();
  else
    acceptControlConnection();
}

void ListenSocket::OnAcceptExhausted(int error) {
  server_.logEvent(std::string("Accepting connections paused: ") + std::strerror(error));
}

void ListenSocket::acceptControlConnection() {
  // The record is made once a connection is really there, so an empty
  // accept never counts a connection.
  auto connection = std::make_shared<ControlConnection>(context(), server_);
  if (!accept(*connection)) return;
  std::error_code error;
  auto peer = connection->socket().remote_endpoint(error);
  std::optional<asio::ip::address> peer_ip;
  if (!error) peer_ip = peer.address();
  auto record = std::make_shared<server::ConnectionRecord>(server_.counter(), server_.recordDefaults(), peer_ip,
                                                           error ? 0 : peer.port());
  record->control.control_connection = connection;
  connection->attach(record);
  server_.admit(record);
}

void ListenSocket::acceptDataConnection() {
  auto record = record_.lock();
  if (!record) {
    close();
    return;
  }
  server_.acceptDataConnection(record, *this);
}

}  // namespace talvek::ftp
