// Trace route to a client: ICMP echo requests with a time-to-live growing by
// one per hop, one text line per hop. Plain C++ (no Qt) so that the hop rules
// can be tested with a scripted channel; the user information window runs it
// on a worker thread and shows the lines.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>

namespace talvek::console {

inline constexpr int kTraceHopLimit = 39;  // hops 1..39; 40 is not tried
inline constexpr std::chrono::milliseconds kTraceReplyTimeout{500};
inline constexpr size_t kEchoRequestSize = 1024;

// The line shown when this process may open neither kind of ICMP socket.
extern const char* const kIcmpNotPermittedLine;

// RFC 1071 Internet checksum of `bytes` (an odd last byte is padded with 0).
uint16_t InternetChecksum(std::span<const uint8_t> bytes);

// Echo request: type 8, code 0, checksum, identifier and sequence number
// (little-endian), the millisecond tick count at offset 8, zeros after.
std::array<uint8_t, kEchoRequestSize> BuildEchoRequest(uint16_t identifier, uint16_t sequence, uint32_t ticks);

// An ICMP answer that belongs to the probe just sent.
struct IcmpAnswer {
  uint8_t type = 0;      // 0 echo reply, 3 unreachable, 11 time exceeded, ...
  std::string from;      // dotted address of the answering host
};

// Reads one received datagram. `with_ip_header`: raw sockets deliver the
// IP header first. Returns the answer when it is our echo reply, or an error
// report quoting our request; anything else (our own request looped back, a
// late answer to an earlier probe, another program's traffic) is nothing.
// `match_identifier` is false for datagram sockets, whose identifier the
// kernel chooses.
std::optional<IcmpAnswer> ParseIcmpDatagram(std::span<const uint8_t> datagram, bool with_ip_header,
                                            const std::string& from, uint16_t identifier, uint16_t sequence,
                                            bool match_identifier);

// One socket's worth of probing. Errors are errno values.
class IcmpChannel {
 public:
  virtual ~IcmpChannel() = default;
  virtual int setTimeToLive(int ttl) = 0;
  virtual int sendEcho(uint16_t sequence) = 0;
  // The answer to `sequence`, or an errno (ETIMEDOUT after `limit`, EINTR
  // when `stop` was set while waiting).
  virtual std::variant<IcmpAnswer, int> receiveAnswer(uint16_t sequence, std::chrono::milliseconds limit,
                                                      const std::atomic<bool>& stop) = 0;
};

// An ICMP channel to `destination` (dotted IPv4): an unprivileged datagram
// socket when allowed, else a raw socket. On failure `failure_text` gets the
// line to show (kIcmpNotPermittedLine, or the socket error text).
std::unique_ptr<IcmpChannel> OpenIcmpChannel(const std::string& destination, std::string& failure_text);

// Host name of a dotted address, "" when there is none.
using HostNameLookup = std::function<std::string(const std::string& address)>;
std::string SystemHostName(const std::string& address);

struct TraceRequest {
  std::string destination;                  // dotted IPv4 address
  std::function<void(std::string)> append;  // one text per hop line or failure
  HostNameLookup host_name = SystemHostName;
  // Opens the channel; the default is OpenIcmpChannel.
  std::function<std::unique_ptr<IcmpChannel>(const std::string&, std::string&)> open = OpenIcmpChannel;
  std::chrono::milliseconds reply_timeout = kTraceReplyTimeout;
};

// Runs the whole trace, calling `append` as lines come; returns early when
// `stop` is set (checked between hops and while waiting for an answer).
void TraceRoute(const TraceRequest& request, const std::atomic<bool>& stop);

}  // namespace talvek::console
