// Operator-facing texts for socket error codes (Winsock numbering), each
// ending with CR LF.
#pragma once

#include <optional>
#include <string>

namespace talvek::ftp {

// The table's text for `code`, or nothing when the code is not in the table.
std::optional<std::string> KnownSocketErrorText(int code);

// The table's text, or "Unknown socket error : <code>\r\n".
std::string SocketErrorText(int code);

}  // namespace talvek::ftp
