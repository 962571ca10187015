// PORT's argument parser. Any text parses without harm into a bounded host
// text; a host and port written in PORT's own form read back exactly; and a
// parse that names a valid IPv4 host is stable when written and read again.
#include <cstdint>
#include <string>

#include <asio/ip/address_v4.hpp>
#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_check.h"
#include "protocol/port_argument.h"

namespace {

using talvek::ftp::ParsePortArgument;
using talvek::ftp::PortTarget;

std::string PortText(const uint8_t (&bytes)[6]) {
  std::string text;
  for (int i = 0; i < 6; ++i) text += (i ? "," : "") + std::to_string(bytes[i]);
  return text;
}

bool Same(const PortTarget& a, const PortTarget& b) { return a.host == b.host && a.port == b.port; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  uint8_t numbers[6];
  for (auto& number : numbers) number = input.ConsumeIntegral<uint8_t>();
  // The line reader cuts every line at its first NUL.
  std::string argument = input.ConsumeRemainingBytesAsString();
  argument.resize(std::min(argument.size(), argument.find('\0')));

  // Arbitrary text: the host is made of the argument's pieces and three dots.
  PortTarget parsed = ParsePortArgument(argument);
  FUZZ_CHECK(parsed.host.size() <= argument.size() + 3, "host bounded by the argument");

  // PORT's own form reads back exactly.
  PortTarget exact = ParsePortArgument(PortText(numbers));
  std::string host = std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "." +
                     std::to_string(numbers[2]) + "." + std::to_string(numbers[3]);
  FUZZ_CHECK(exact.host == host, "the four host numbers read back");
  FUZZ_CHECK(exact.port == numbers[4] * 256 + numbers[5], "the port reads back");

  // A parse naming a valid address is stable when written as PORT and read again.
  std::error_code error;
  auto address = asio::ip::make_address_v4(parsed.host, error);
  if (!error) {
    auto octets = address.to_bytes();
    const uint8_t again[6] = {octets[0], octets[1], octets[2], octets[3], static_cast<uint8_t>(parsed.port >> 8),
                              static_cast<uint8_t>(parsed.port & 0xff)};
    FUZZ_CHECK(Same(ParsePortArgument(PortText(again)), parsed), "a valid target survives being written again");
  }
  return 0;
}
