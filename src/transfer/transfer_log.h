// The lines transfers leave on the monitor and in the log.
#pragma once

#include <string>

namespace talvek::session {
class SessionHost;
}

namespace talvek::transfer {

// "<now> : Completed transfer of <what> <direction> <who>" with its blank
// line, to the monitor and the log.
void LogCompletion(session::SessionHost& server, const std::string& text);
// The socket error text of an errno value (known codes are logged).
std::string SocketFailureText(session::SessionHost& server, int error);
// The system's text for a file error, as a log event.
void LogFileError(session::SessionHost& server, int error);

}  // namespace talvek::transfer
