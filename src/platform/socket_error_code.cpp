#include "platform/socket_error_code.h"

#include <asio/error.hpp>
#include <cerrno>

namespace talvek::platform {

int SocketErrorCodeFromErrno(int errno_value) {
  switch (errno_value) {
    case 0: return 0;
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES: return 10013;
    case EPERM: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE: return 10024;
    case ENFILE: return 10024;
#if EAGAIN != EWOULDBLOCK
    case EAGAIN: return 10035;
#endif
    case EWOULDBLOCK: return 10035;
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    case ECONNRESET: return 10054;
    case EPIPE: return 10058;  // writing after the peer shut down
    case ENOBUFS: return 10055;
    case ENOMEM: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case ESHUTDOWN: return 10058;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    default: return 10000 + errno_value;
  }
}

int SocketErrorCodeFrom(const std::error_code& error) {
  if (!error) return 0;
  if (error == asio::error::eof) return SocketErrorCodeFromErrno(ECONNRESET);
  if (error == asio::error::operation_aborted) return SocketErrorCodeFromErrno(EINTR);
  if (error.category() == std::system_category() || error.category() == asio::system_category())
    return SocketErrorCodeFromErrno(error.value());
  return 10000 + error.value();
}

}  // namespace talvek::platform
