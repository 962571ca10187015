// The arguments of PORT and EPRT, the client's data address, read from
// untrusted text with bounded work.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace talvek::ftp {

// PORT's argument as the host text and port it names (no validation, bytes
// truncated to 8 bits).
struct PortTarget {
  std::string host;
  uint16_t port = 0;
};
PortTarget ParsePortArgument(std::string argument);

// EPRT's argument "<d>family<d>address<d>port<d>": the address as canonical
// text and the port, or `refusal` 501 (malformed, or longer than
// kMaxEprtArgument) or 522 (a family other than 1, IPv4, and 2, IPv6).
constexpr size_t kMaxEprtArgument = 64;
struct ExtendedPortTarget {
  std::string host;
  uint16_t port = 0;
  int refusal = 0;
};
ExtendedPortTarget ParseEprtArgument(std::string_view argument);

}  // namespace talvek::ftp
