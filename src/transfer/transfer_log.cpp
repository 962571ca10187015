#include "transfer/transfer_log.h"

#include <cstring>

#include "log/log_thread.h"
#include "platform/socket_error_code.h"
#include "session/session_host.h"

namespace talvek::transfer {

void LogCompletion(session::SessionHost& server, const std::string& text) {
  server.appendMonitor(text);
  server.handToLog(text);
}

std::string SocketFailureText(session::SessionHost& server, int error) {
  return server.socketErrorText(platform::SocketErrorCodeFromErrno(error), false);
}

void LogFileError(session::SessionHost& server, int error) { server.logEvent(std::strerror(error)); }

}  // namespace talvek::transfer
