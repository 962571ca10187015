#include "ftp/listen_socket.h"

#include <cstring>

#include "ftp/control_connection.h"
#include "server/connection_record.h"
#include "server/server.h"
#include "transfer/data_commands.h"

namespace talvek::ftp {

ListenSocket::ListenSocket(asio::io_context& io, server::Server& server)
    : AsyncListenSocket(io), server_(server), passive_(false) {}

ListenSocket::ListenSocket(asio::io_context& io, server::Server& server,
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
  auto record = std::make_shared<server::ConnectionRecord>(server_.counter(), server_.recordDefaults());
  record->control_connection = connection;
  connection->attach(record);
  std::error_code error;
  auto peer = connection->socket().remote_endpoint(error);
  if (!error) record->peer_ip = peer.address();
  server_.admit(record);
}

void ListenSocket::acceptDataConnection() {
  auto record = record_.lock();
  if (!record) {
    close();
    return;
  }
  transfer::AcceptDataConnection(server_, record, *this);
}

}  // namespace talvek::ftp
