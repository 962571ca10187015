// What a command handler works with: the server, the client's record and
// its control connection. Handlers take the argument by reference and
// return the whole reply without its final CR LF; an empty reply closes the
// connection.
#pragma once

#include <string>

#include "ftp/command_table.h"

namespace talvek::server {
class Server;
struct ConnectionRecord;
}  // namespace talvek::server

namespace talvek::ftp {

class ControlConnection;

struct CommandContext {
  server::Server& server;
  server::ConnectionRecord& record;
  ControlConnection& connection;
};

// Runs the handler of `command`.
std::string RunCommand(Command command, CommandContext& context, std::string& argument);

}  // namespace talvek::ftp
