#include "console/trace_route.h"

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "protocol/socket_error_text.h"
#include "platform/socket_error_code.h"

namespace talvek::console {

const char* const kIcmpNotPermittedLine =
    "Trace route needs an ICMP socket, which this process may not open: allow its group in "
    "net.ipv4.ping_group_range, or give it the CAP_NET_RAW capability.\r\n";

namespace {

constexpr uint8_t kEchoReply = 0;
constexpr uint8_t kEchoRequest = 8;
constexpr size_t kReceiveBufferSize = 2048;
// Waits are cut into slices so that a closing window stops the trace soon.
constexpr std::chrono::milliseconds kStopSlice{50};

std::string ErrorText(int errno_value) {
  return ftp::SocketErrorText(platform::SocketErrorCodeFromErrno(errno_value));
}

uint16_t ReadLittle16(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8)); }

void WriteLittle(uint8_t* bytes, uint32_t value, size_t width) {
  for (size_t i = 0; i < width; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t TickCount() {
  auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

std::string DottedText(const in_addr& address) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

// Whether an ICMP message (no IP header) is the echo request we sent.
bool IsOurRequest(std::span<const uint8_t> icmp, uint16_t identifier, uint16_t sequence, bool match_identifier) {
  if (icmp.size() < 8 || icmp[0] != kEchoRequest) return false;
  if (match_identifier && ReadLittle16(&icmp[4]) != identifier) return false;
  return ReadLittle16(&icmp[6]) == sequence;
}

// Closes the descriptor with its owner.
class SocketHandle {
 public:
  explicit SocketHandle(int fd) : fd_(fd) {}
  ~SocketHandle() {
    if (fd_ >= 0) ::close(fd_);
  }
  SocketHandle(const SocketHandle&) = delete;
  SocketHandle& operator=(const SocketHandle&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

class SocketIcmpChannel : public IcmpChannel {
 public:
  SocketIcmpChannel(int fd, bool raw, const sockaddr_in& destination)
      : socket_(fd), raw_(raw), destination_(destination), identifier_(static_cast<uint16_t>(::getpid())) {}

  int setTimeToLive(int ttl) override {
    return ::setsockopt(socket_.fd(), IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) == 0 ? 0 : errno;
  }

  int sendEcho(uint16_t sequence) override {
    auto request = BuildEchoRequest(identifier_, sequence, TickCount());
    auto sent = ::sendto(socket_.fd(), request.data(), request.size(), 0,
                         reinterpret_cast<const sockaddr*>(&destination_), sizeof destination_);
    return sent == static_cast<ssize_t>(request.size()) ? 0 : (sent < 0 ? errno : EMSGSIZE);
  }

  std::variant<IcmpAnswer, int> receiveAnswer(uint16_t sequence, std::chrono::milliseconds limit,
                                              const std::atomic<bool>& stop) override {
    auto until = std::chrono::steady_clock::now() + limit;
    while (!stop.load()) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
      if (left.count() <= 0) return ETIMEDOUT;
      pollfd poll_fd{socket_.fd(), POLLIN, 0};
      int ready = ::poll(&poll_fd, 1, static_cast<int>(std::min(left, kStopSlice).count()));
      if (ready < 0 && errno != EINTR) return errno;
      if (ready <= 0) continue;
      std::optional<IcmpAnswer> answer =
          (poll_fd.revents & POLLERR) ? readErrorQueue(sequence) : readDatagram(sequence);
      if (answer) return *answer;
    }
    return EINTR;
  }

 private:
  std::optional<IcmpAnswer> readDatagram(uint16_t sequence) {
    std::array<uint8_t, kReceiveBufferSize> buffer{};
    sockaddr_in from{};
    socklen_t from_length = sizeof from;
    auto got = ::recvfrom(socket_.fd(), buffer.data(), buffer.size(), MSG_DONTWAIT,
                          reinterpret_cast<sockaddr*>(&from), &from_length);
    if (got <= 0) return std::nullopt;
    return ParseIcmpDatagram(std::span(buffer.data(), static_cast<size_t>(got)), raw_, DottedText(from.sin_addr),
                             identifier_, sequence, raw_);
  }

  // Datagram ICMP sockets report time-exceeded and unreachable answers on
  // the error queue, with the answering host as the offender.
  std::optional<IcmpAnswer> readErrorQueue(uint16_t sequence) {
    std::array<uint8_t, kReceiveBufferSize> payload{};
    std::array<char, 512> control{};
    iovec vector{payload.data(), payload.size()};
    msghdr message{};
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    auto got = ::recvmsg(socket_.fd(), &message, MSG_ERRQUEUE | MSG_DONTWAIT);
    if (got < 0) return std::nullopt;
    for (cmsghdr* item = CMSG_FIRSTHDR(&message); item; item = CMSG_NXTHDR(&message, item)) {
      if (item->cmsg_level != IPPROTO_IP || item->cmsg_type != IP_RECVERR) continue;
      const auto* error = reinterpret_cast<const sock_extended_err*>(CMSG_DATA(item));
      if (error->ee_origin != SO_EE_ORIGIN_ICMP) continue;
      if (!IsOurRequest(std::span(payload.data(), static_cast<size_t>(got)), identifier_, sequence, false))
        return std::nullopt;
      const auto* offender = reinterpret_cast<const sockaddr_in*>(SO_EE_OFFENDER(error));
      return IcmpAnswer{error->ee_type, DottedText(offender->sin_addr)};
    }
    return std::nullopt;
  }

  SocketHandle socket_;
  bool raw_;
  sockaddr_in destination_;
  uint16_t identifier_;
};

bool NotPermitted(int error) { return error == EACCES || error == EPERM; }

// Both time-outs of the probe socket; the reply wait itself is bounded too.
int SetTimeouts(int fd) {
  timeval timeout{0, static_cast<suseconds_t>(kTraceReplyTimeout.count() * 1000)};
  if (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0) return errno;
  if (::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout) != 0) return errno;
  return 0;
}

}  // namespace

uint16_t InternetChecksum(std::span<const uint8_t> bytes) {
  uint32_t sum = 0;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) sum += static_cast<uint32_t>(bytes[i] << 8 | bytes[i + 1]);
  if (bytes.size() % 2) sum += static_cast<uint32_t>(bytes.back() << 8);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint16_t>(~sum);
}

std::array<uint8_t, kEchoRequestSize> BuildEchoRequest(uint16_t identifier, uint16_t sequence, uint32_t ticks) {
  std::array<uint8_t, kEchoRequestSize> request{};
  request[0] = kEchoRequest;
  WriteLittle(&request[4], identifier, 2);
  WriteLittle(&request[6], sequence, 2);
  WriteLittle(&request[8], ticks, 4);
  uint16_t checksum = InternetChecksum(request);
  request[2] = static_cast<uint8_t>(checksum >> 8);  // stored as summed: network order
  request[3] = static_cast<uint8_t>(checksum);
  return request;
}

std::optional<IcmpAnswer> ParseIcmpDatagram(std::span<const uint8_t> datagram, bool with_ip_header,
                                            const std::string& from, uint16_t identifier, uint16_t sequence,
                                            bool match_identifier) {
  size_t header = with_ip_header && !datagram.empty() ? (datagram[0] & 0x0F) * 4u : 0u;
  if (datagram.size() < header + 8) return std::nullopt;
  auto icmp = datagram.subspan(header);
  uint8_t type = icmp[0];
  if (type == kEchoRequest) return std::nullopt;
  if (type == kEchoReply) {
    if (match_identifier && ReadLittle16(&icmp[4]) != identifier) return std::nullopt;
    if (ReadLittle16(&icmp[6]) != sequence) return std::nullopt;
    return IcmpAnswer{type, from};
  }
  // An error report quotes the IP header and the first 8 bytes of our request.
  auto quoted = icmp.subspan(8);
  if (quoted.empty()) return std::nullopt;
  size_t quoted_header = (quoted[0] & 0x0F) * 4u;
  if (quoted.size() < quoted_header + 8) return std::nullopt;
  if (!IsOurRequest(quoted.subspan(quoted_header), identifier, sequence, match_identifier)) return std::nullopt;
  return IcmpAnswer{type, from};
}

std::unique_ptr<IcmpChannel> OpenIcmpChannel(const std::string& destination, std::string& failure_text) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(7);  // plays no part for ICMP
  if (::inet_pton(AF_INET, destination.c_str(), &address.sin_addr) != 1) {
    failure_text = "No IPv4 address to trace.\r\n";
    return nullptr;
  }
  bool raw = false;
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
  int datagram_error = fd < 0 ? errno : 0;
  if (fd < 0) {
    raw = true;
    fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
  }
  if (fd < 0) {
    int raw_error = errno;
    failure_text = NotPermitted(raw_error) && NotPermitted(datagram_error) ? kIcmpNotPermittedLine
                                                                           : ErrorText(raw_error);
    return nullptr;
  }
  auto channel = std::make_unique<SocketIcmpChannel>(fd, raw, address);
  int on = 1;
  int error = SetTimeouts(fd);
  if (!error && !raw && ::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on) != 0) error = errno;
  if (error) {
    failure_text = ErrorText(error);
    return nullptr;
  }
  return channel;
}

std::string SystemHostName(const std::string& address) {
  sockaddr_in socket_address{};
  socket_address.sin_family = AF_INET;
  if (::inet_pton(AF_INET, address.c_str(), &socket_address.sin_addr) != 1) return {};
  char name[NI_MAXHOST] = {};
  if (::getnameinfo(reinterpret_cast<const sockaddr*>(&socket_address), sizeof socket_address, name, sizeof name,
                    nullptr, 0, NI_NAMEREQD) != 0)
    return {};
  return name;
}

void TraceRoute(const TraceRequest& request, const std::atomic<bool>& stop) {
  std::string failure;
  auto channel = request.open(request.destination, failure);
  if (!channel) {
    request.append(failure);
    return;
  }
  for (int hop = 1; hop <= kTraceHopLimit && !stop.load(); ++hop) {
    auto sequence = static_cast<uint16_t>(hop);
    if (int error = channel->setTimeToLive(hop)) {
      request.append(ErrorText(error));
      return;
    }
    if (int error = channel->sendEcho(sequence)) request.append(std::to_string(hop) + " - " + ErrorText(error));
    auto result = channel->receiveAnswer(sequence, request.reply_timeout, stop);
    if (stop.load()) return;
    if (const int* error = std::get_if<int>(&result)) {
      request.append(std::to_string(hop) + "\t" + ErrorText(*error));
      continue;
    }
    const auto& answer = std::get<IcmpAnswer>(result);
    bool complete = answer.type == kEchoReply && answer.from == request.destination;
    std::string status = complete ? "\r\nRoute trace complete" : answer.type == 3 ? " : Destination unreachable" : "";
    request.append(std::to_string(hop) + "\t" + answer.from + "\t" + request.host_name(answer.from) + "\t" + status +
                   "\r\n");
    if (complete) return;
  }
}

}  // namespace talvek::console
