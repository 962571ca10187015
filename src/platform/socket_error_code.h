// The server reports socket failures with the classic Winsock error numbers
// (10061 for a refused connection, ...), because its operator-facing error
// texts are keyed by them. This maps the host's errno values onto them.
#pragma once

#include <system_error>

namespace talvek::platform {

// The Winsock-style code for an errno value; values without a counterpart
// are returned as 10000 + errno so they still read as "unknown" codes.
int SocketErrorCodeFromErrno(int errno_value);

// Same for an error reported by the networking library.
int SocketErrorCodeFrom(const std::error_code& error);

}  // namespace talvek::platform
