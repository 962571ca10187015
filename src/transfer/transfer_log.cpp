#include "transfer/transfer_log.h"

#include <cstring>

#include "log/log_thread.h"
#include "platform/socket_error_code.h"
#include "server/server.h"

namespace talvek::transfer {

void LogCompletion(server::Server& server, const std::string& text) {
  server.appendMonitor(text);
  server.handToLog(text);
}

std::string SocketFailureText(server::Server& server, int error) {
  return server.socketErrorText(platform::SocketErrorCodeFromErrno(error), false);
}

void LogFileError(server::Server& server, int error) { server.logEvent(std::strerror(error)); }

}  // namespace talvek::transfer
