// EPRT's argument parser. Any text is parsed or refused without harm, and
// only with 501 or 522; an accepted target names an address of its family
// in canonical text and a port other than 0, and reads back the same when
// written in EPRT's own form.
#include <cstdint>
#include <string>

#include <asio/ip/address.hpp>
#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_check.h"
#include "protocol/port_argument.h"

using talvek::ftp::ExtendedPortTarget;
using talvek::ftp::ParseEprtArgument;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  // The line reader cuts every line at its first NUL.
  std::string argument = input.ConsumeRemainingBytesAsString();
  argument.resize(std::min(argument.size(), argument.find('\0')));

  ExtendedPortTarget parsed = ParseEprtArgument(argument);
  FUZZ_CHECK(parsed.refusal == 0 || parsed.refusal == 501 || parsed.refusal == 522, "refusals from the table");
  if (parsed.refusal != 0) {
    FUZZ_CHECK(parsed.host.empty() && parsed.port == 0, "a refusal names no target");
    return 0;
  }
  FUZZ_CHECK(parsed.port != 0, "an accepted port is not 0");
  std::error_code error;
  auto address = asio::ip::make_address(parsed.host, error);
  FUZZ_CHECK(!error && address.to_string() == parsed.host, "the host is an address in canonical text");
  char family = argument[argument.find(argument.front(), 1) - 1];
  FUZZ_CHECK((family == '2') == address.is_v6(), "the host is of the family named");

  std::string again = std::string("|") + family + "|" + parsed.host + "|" + std::to_string(parsed.port) + "|";
  ExtendedPortTarget reread = ParseEprtArgument(again);
  FUZZ_CHECK(reread.refusal == 0 && reread.host == parsed.host && reread.port == parsed.port,
             "EPRT's own form reads back the same");
  return 0;
}
