// What a command handler works with: its session host, the client's record
// and its control connection. Handlers take the argument by reference and
// return the whole reply without its final CR LF; an empty reply closes the
// connection.
#pragma once

#include <string>

namespace talvek::server {
struct ConnectionRecord;
}  // namespace talvek::server

namespace talvek::session {
class SessionHost;
}  // namespace talvek::session

namespace talvek::ftp {

class ControlConnection;

struct CommandContext {
  session::SessionHost& server;
  server::ConnectionRecord& record;
  ControlConnection& connection;
};

}  // namespace talvek::ftp
