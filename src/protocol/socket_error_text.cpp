#include "protocol/socket_error_text.h"

#include <string_view>

namespace talvek::ftp {

namespace {

struct Row {
  int code;
  std::string_view text;
};

constexpr Row kRows[] = {
    {10093, "A successful AfxSocketInit must occur before using this API.\r\n"},
    {10050, "The Windows Sockets implementation detected that the network subsystem failed.\r\n"},
    {10048, "The specified address is already in use.\r\n"},
    {10036, "A blocking Windows Sockets call is in progress.\r\n"},
    {10049, "The specified address is not available from the local machine.\r\n"},
    {10047, "Addresses in the specified family cannot be used with this socket.\r\n"},
    {10061, "The attempt to connect was rejected.\r\n"},
    {10014, "The nSockAddrLen argument is incorrect.\r\n"},
    {10022, "The socket is not already bound to an address.\r\n"},
    {10056, "The socket is already connected.\r\n"},
    {10024, "No more file descriptors are available.\r\n"},
    {10051, "The network cannot be reached from this host at this time.\r\n"},
    {10055, "No buffer space is available. The socket cannot be connected.\r\n"},
    {10038, "The descriptor is not a socket.\r\n"},
    {10060, "Attempt to connect timed out without establishing a connection.\r\n"},
    {10035, "The socket is marked as nonblocking and the connection cannot be completed immediately.\r\n"},
    {10013, "The requested address is a broadcast address, but the appropriate flag was not set.\r\n"},
    {10052, "The connection must be reset because the Windows Sockets implementation dropped it.\r\n"},
    {10057, "The socket is not connected.\r\n"},
    {10045, "MSG_OOB was specified, but the socket is not of type SOCK_STREAM.\r\n"},
    {10058, "The socket has been shut down.\r\n"},
    {10053, "The virtual circuit was aborted due to timeout or other failure.\r\n"},
    {10054, "The virtual circuit was reset by the remote side.\r\n"},
};

}  // namespace

std::optional<std::string> KnownSocketErrorText(int code) {
  for (const auto& row : kRows)
    if (row.code == code) return std::string(row.text);
  return std::nullopt;
}

std::string SocketErrorText(int code) {
  if (auto known = KnownSocketErrorText(code)) return *known;
  return "Unknown socket error : " + std::to_string(code) + "\r\n";
}

}  // namespace talvek::ftp
