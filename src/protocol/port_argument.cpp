#include "protocol/port_argument.h"

#include <charconv>
#include <cstdlib>

#include <asio/ip/address.hpp>

namespace talvek::ftp {

PortTarget ParsePortArgument(std::string argument) {
  PortTarget target;
  for (int part = 0; part < 4; ++part) {
    size_t comma = argument.find(',');
    if (comma == std::string::npos) {
      if (part < 3) target.host += ".";
      continue;
    }
    target.host += argument.substr(0, comma);
    if (part < 3) target.host += ".";
    argument.erase(0, comma + 1);
  }
  size_t comma = argument.find(',');
  std::string high = argument.substr(0, comma);
  std::string low = comma == std::string::npos ? std::string() : argument.substr(comma + 1);
  auto byte = [](const std::string& text) { return static_cast<uint16_t>(std::strtoll(text.c_str(), nullptr, 10) & 0xff); };
  target.port = static_cast<uint16_t>(byte(high) * 256 + byte(low));
  return target;
}

ExtendedPortTarget ParseEprtArgument(std::string_view argument) {
  ExtendedPortTarget target;
  target.refusal = 501;
  if (argument.size() < 7 || argument.size() > kMaxEprtArgument) return target;
  char delimiter = argument.front();
  if (delimiter < 33 || delimiter > 126 || argument.back() != delimiter) return target;
  std::string_view fields[3];
  std::string_view rest = argument.substr(1, argument.size() - 2);
  for (int i = 0; i < 3; ++i) {
    size_t end = rest.find(delimiter);
    if ((i < 2) != (end != std::string_view::npos)) return target;
    fields[i] = rest.substr(0, end);
    rest.remove_prefix(i < 2 ? end + 1 : rest.size());
  }
  auto digits = [](std::string_view text, size_t most) {
    return !text.empty() && text.size() <= most && text.find_first_not_of("0123456789") == std::string_view::npos;
  };
  if (!digits(fields[0], 3)) return target;
  if (fields[0] != "1" && fields[0] != "2") {
    target.refusal = 522;
    return target;
  }
  if (!digits(fields[2], 5) || fields[1].find('%') != std::string_view::npos) return target;
  unsigned port = 0;
  std::from_chars(fields[2].data(), fields[2].data() + fields[2].size(), port);
  std::error_code error;
  std::string address(fields[1]);
  std::string host = fields[0] == "1" ? asio::ip::make_address_v4(address, error).to_string()
                                      : asio::ip::make_address_v6(address, error).to_string();
  if (error || port == 0 || port > 65535) return target;
  target.host = std::move(host);
  target.port = static_cast<uint16_t>(port);
  target.refusal = 0;
  return target;
}

}  // namespace talvek::ftp
