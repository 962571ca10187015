#include "transfer/data_commands.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <utility>

#include "session/control_connection.h"
#include "session/listen_socket.h"
#include "protocol/reply_table.h"
#include "protocol/path_rules.h"
#include "protocol/port_argument.h"
#include "session/connection_record.h"
#include "session/session_host.h"
#include "transfer/data_socket.h"

namespace talvek::transfer {

namespace {

constexpr uint8_t kRead = 1, kWrite = 2, kDelete = 4;

// Leading decimal digits of `text` as a number (0 when none), like atoi.
int64_t LeadingNumber(const std::string& text) { return std::strtoll(text.c_str(), nullptr, 10); }

std::shared_ptr<server::ConnectionRecord> Shared(ftp::CommandContext& context) {
  for (const auto& record : context.server.registrySnapshot())
    if (record.get() == &context.record) return record;
  return nullptr;
}

// The data connection is made only to the client's own address: a PORT or
// EPRT naming another host would let a client aim the server at third parties.
std::optional<asio::ip::tcp::endpoint> ActiveTarget(const server::ConnectionRecord& record) {
  std::error_code error;
  const auto& control = record.control;
  const std::string& named = control.port_host.empty() ? record.identity.peer_address : control.port_host;
  auto host = asio::ip::make_address(named, error);
  if (error || control.data_port == 0 || host != record.identity.peer_ip) return std::nullopt;
  return asio::ip::tcp::endpoint(host, control.data_port);
}

// How many ports of the passive range one PASV or EPSV tries before it gives up.
constexpr uint32_t kMaxPassiveTries = 1000;

// The kernel's range for ephemeral ports (its default when unreadable).
std::pair<uint32_t, uint32_t> EphemeralRange() {
  uint32_t low = 32768, high = 60999;
  if (std::FILE* file = std::fopen("/proc/sys/net/ipv4/ip_local_port_range", "r")) {
    unsigned a = 0, b = 0;
    if (std::fscanf(file, "%u %u", &a, &b) == 2 && a > 0 && a <= b && b <= 65535) {
      low = a;
      high = b;
    }
    std::fclose(file);
  }
  return {low, high};
}

// A listening passive socket on `local_address` (where the client already
// reaches us, not every interface), its port from the configured range;
// null when none could be had.
std::shared_ptr<ftp::ListenSocket> OpenPassiveListener(session::SessionHost& server,
                                                       const std::shared_ptr<server::ConnectionRecord>& record,
                                                       const std::string& local_address) {
  auto network = server.settings().network;
  auto open = [&](uint16_t port) -> std::shared_ptr<ftp::ListenSocket> {
    auto listener = std::make_shared<ftp::ListenSocket>(server.context(), server, record);
    if (listener->create(local_address, port) != 0 || listener->listen(5) != 0) return nullptr;
    return listener;
  };
  // Ports are tried from a random one of the range, so that the next one
  // cannot be guessed and busy ones are passed over.
  thread_local std::minstd_rand random(std::random_device{}());
  auto walk = [&](uint32_t first, uint32_t count, uint32_t stride) -> std::shared_ptr<ftp::ListenSocket> {
    uint32_t start = count ? static_cast<uint32_t>(random() % count) : 0;
    for (uint32_t step = 0; step < std::min(count, kMaxPassiveTries); ++step)
      if (auto listener = open(static_cast<uint16_t>(first + stride * ((start + step) % count)))) return listener;
    return nullptr;
  };
  if (network.passivePortMin == 0 && network.passivePortMax == 0) {
    // bind(0) searches the whole range under the kernel's bind lock and
    // slows down as TIME_WAIT sockets pile up; naming a port costs one
    // lookup. Odd ports are the ones Linux leaves to bind (connect takes
    // even ones first).
    static const auto range = EphemeralRange();
    uint32_t first = range.first | 1;
    uint32_t count = range.second >= first ? (range.second - first) / 2 + 1 : 0;
    if (auto listener = walk(first, count, 2)) return listener;
    return open(0);
  }
  uint32_t low = network.passivePortMin ? network.passivePortMin : 1024;
  uint32_t high = network.passivePortMax ? std::min<uint32_t>(network.passivePortMax, 65535) : 65535;
  if (low > high) std::swap(low, high);  // a hand-edited file; config set refuses it
  return walk(low, high - low + 1, 1);
}

// The replies of the extended commands and of the family rules (RFC 2428).
const std::string kEpsvAllReply = "200 EPSV ALL accepted; only EPSV sets up data connections now";
const std::string kAfterEpsvAll = "503 Bad sequence of commands: only EPSV is accepted after EPSV ALL";
const std::string kEprtFamilies = "522 Network protocol not supported, use (1,2)";
const std::string kPasvOnIpv6 = "522 Network protocol not supported, use EPSV";
const std::string kPortOnIpv6 = "522 Network protocol not supported, use EPRT";

// Sets up the passive listener of a PASV or EPSV: its port, or 0 with
// `refusal` set.
uint16_t StartPassive(ftp::CommandContext& context, std::string& local_address, std::string& refusal) {
  auto& control = context.record.control;
  auto& server = context.server;
  if (control.data_connected && control.data_socket) DisposeDataSocket(server, control.data_socket);
  if (server.settings().net.disablePasv) {
    refusal = ftp::Reply(502);
    return 0;
  }
  if (control.passive_listener) {
    control.passive_listener->close();
    control.passive_listener.reset();
    control.transfer_pending = false;
  }
  auto shared = Shared(context);
  uint16_t control_port = 0;
  if (!shared || !context.connection.socketName(local_address, control_port)) {
    refusal = ftp::Reply(451);
    return 0;
  }
  auto listener = OpenPassiveListener(server, shared, local_address);
  if (!listener) {
    refusal = ftp::Reply(425);
    return 0;
  }
  control.passive = true;
  control.passive_listener = listener;
  return listener->port();
}

// A passive transfer whose client never connects is answered after the time-out.
void ArmPendingTimeout(session::SessionHost& server, const std::shared_ptr<server::ConnectionRecord>& record) {
  auto timer = std::make_shared<asio::steady_timer>(server.context());
  timer->expires_after(std::chrono::milliseconds(server.data_connection_timeout_ms.load()));
  uint32_t serial = record->control.transfer_serial;
  std::weak_ptr<server::ConnectionRecord> weak = record;
  timer->async_wait([timer, weak, serial](const std::error_code& error) {
    auto live = weak.lock();
    if (error || !live) return;
    auto& owner = live->control;
    if (owner.transfer_serial != serial) return;
    if (!owner.transfer_pending || owner.data_connected) return;
    owner.transfer_pending = false;
    if (owner.passive_listener) {
      owner.passive_listener->close();
      owner.passive_listener.reset();
    }
    if (owner.control_connection) owner.control_connection->sendReply(ftp::Reply(425));
  });
}

// Leading "-" words are the options of a client's ls ("LIST -la sub"):
// accepted and ignored.
void DropListOptions(std::string& argument) {
  while (!argument.empty() && argument.front() == '-') {
    size_t space = argument.find(' ');
    argument.erase(0, space == std::string::npos ? space : argument.find_first_not_of(' ', space));
  }
}

}  // namespace

std::string UniqueNameFor(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char name[32];
  std::strftime(name, sizeof name, "%Y_%m_%d_%H_%M_%S", &local);
  return name;
}

std::string HandlePort(ftp::CommandContext& context, std::string& argument) {
  if (context.record.control.epsv_all) return kAfterEpsvAll;
  // PORT can only name an IPv4 address.
  if (context.record.identity.peer_ip.is_v6()) return kPortOnIpv6;
  ftp::PortTarget target = ftp::ParsePortArgument(argument);
  auto& control = context.record.control;
  control.port_host = target.host;
  control.data_port = target.port;
  control.passive = false;
  return ftp::Reply(200);
}

std::string HandlePasv(ftp::CommandContext& context, std::string&) {
  if (context.record.control.epsv_all) return kAfterEpsvAll;
  // PASV can only name an IPv4 address.
  if (context.record.identity.peer_ip.is_v6()) return kPasvOnIpv6;
  std::string local_address, refusal;
  uint16_t port = StartPassive(context, local_address, refusal);
  if (port == 0) return refusal;
  auto& server = context.server;
  std::string address = server.serverAddress().empty() ? local_address : server.serverAddress();
  // Behind a router the address clients reach is not the local one.
  if (std::string advertised = server.settings().network.passiveAddress; !advertised.empty()) address = advertised;
  for (char& c : address)
    if (c == '.') c = ',';
  return "227 Entering Passive Mode (" + address + "," + std::to_string(port >> 8) + "," +
         std::to_string(port & 0xff) + ")";
}

std::string HandleEpsv(ftp::CommandContext& context, std::string& argument) {
  auto& control = context.record.control;
  std::string family = context.record.identity.peer_ip.is_v6() ? "2" : "1";
  if (argument.size() == 3 && (argument[0] | 0x20) == 'a' && (argument[1] | 0x20) == 'l' &&
      (argument[2] | 0x20) == 'l') {
    control.epsv_all = true;
    return kEpsvAllReply;
  }
  if (argument == "1" || argument == "2") {
    if (argument != family) return "522 Network protocol not supported, use (" + family + ")";
  } else if (!argument.empty()) {
    return ftp::Reply(501);
  }
  std::string local_address, refusal;
  uint16_t port = StartPassive(context, local_address, refusal);
  if (port == 0) return refusal;
  return "229 Entering Extended Passive Mode (|||" + std::to_string(port) + "|)";
}

std::string HandleEprt(ftp::CommandContext& context, std::string& argument) {
  auto& control = context.record.control;
  if (control.epsv_all) return kAfterEpsvAll;
  ftp::ExtendedPortTarget target = ftp::ParseEprtArgument(argument);
  if (target.refusal == 522) return kEprtFamilies;
  if (target.refusal != 0) return ftp::Reply(501);
  control.port_host = target.host;
  control.data_port = target.port;
  control.passive = false;
  return ftp::Reply(200);
}

std::string HandleRest(ftp::CommandContext& context, std::string& argument) {
  context.record.shared.restart_offset = LeadingNumber(argument);
  return ftp::Reply(350);
}

std::string HandleAbor(ftp::CommandContext& context, std::string&) {
  if (auto& socket = context.record.control.data_socket) {
    socket->abort();
    PostDisposal(context.server, socket);
  }
  return ftp::Reply(226);
}

std::string HandleRetr(ftp::CommandContext& context, std::string& argument) {
  if ((context.record.control.permissions & kRead) == 0) return ftp::Reply(550);
  return StartTransfer(context, argument, TransferKind::Retr);
}

std::string HandleStor(ftp::CommandContext& context, std::string& argument) {
  if ((context.record.control.permissions & kWrite) == 0) return ftp::Reply(532);
  return StartTransfer(context, argument, TransferKind::Stor);
}

std::string HandleAppe(ftp::CommandContext& context, std::string& argument) {
  if ((context.record.control.permissions & kDelete) == 0) return ftp::Reply(532);
  return StartTransfer(context, argument, TransferKind::Appe);
}

std::string HandleStou(ftp::CommandContext& context, std::string&) {
  if ((context.record.control.permissions & kWrite) == 0) return ftp::Reply(532);
  // The time names the file; the upload creates it exclusively and, when
  // the name is taken, a suffixed one, and its reply names what it made.
  std::string name = UniqueNameFor(std::time(nullptr));
  return StartTransfer(context, name, TransferKind::Stou);
}

std::string HandleList(ftp::CommandContext& context, std::string& argument) {
  if ((context.record.control.permissions & kRead) == 0) return ftp::Reply(450);
  DropListOptions(argument);
  return StartTransfer(context, argument, TransferKind::List);
}

std::string HandleNlst(ftp::CommandContext& context, std::string& argument) {
  if ((context.record.control.permissions & kRead) == 0) return ftp::Reply(450);
  DropListOptions(argument);
  return StartTransfer(context, argument, TransferKind::Nlst);
}

std::string HandleMlsd(ftp::CommandContext& context, std::string& argument) {
  if (!context.record.control.logged_in) return ftp::Reply(530);
  if ((context.record.control.permissions & kRead) == 0) return ftp::FileErrorReply(ftp::kAccessDenied);
  return StartTransfer(context, argument, TransferKind::Mlsd);
}

std::string StartTransfer(ftp::CommandContext& context, std::string& argument, TransferKind kind) {
  auto& control = context.record.control;
  auto& server = context.server;
  std::string current = context.record.texts.lock()->current_directory;
  if (!ftp::CheckPath(argument, current, server.settings().ftpRootDir))
    return "501 Directory " + argument + " does not exist";
  // One transfer at a time per connection.
  if (control.transfer_pending) return ftp::Reply(425);
  ++control.transfer_serial;
  bool connected = control.data_connected;
  if (!connected && !control.passive) {
    auto target = ActiveTarget(context.record);
    auto shared = Shared(context);
    if (!target || !shared) return ftp::Reply(425);
    if (control.data_socket) DisposeDataSocket(server, control.data_socket);
    auto socket = std::make_shared<DataSocket>(server.context(), server, shared);
    control.data_socket = socket;
    control.transfer_pending = true;
    socket->setTransfer(argument, kind);
    socket->startActive(*target, std::chrono::milliseconds(server.data_connection_timeout_ms.load()));
    return ftp::Reply(150);
  }
  if (!connected) {
    auto shared = Shared(context);
    if (!shared) return ftp::Reply(425);
    control.pending_transfer_kind = static_cast<int32_t>(kind);
    control.transfer_argument = argument;
    control.transfer_pending = true;
    ArmPendingTimeout(server, shared);
    return ftp::Reply(150);
  }
  if (control.passive && control.data_socket && !control.data_socket->started()) {
    // The reply is queued before the thread's own final reply can be.
    control.transfer_pending = true;
    control.data_socket->setTransfer(argument, kind);
    control.data_socket->startNow();
    return ftp::Reply(125);
  }
  return ftp::Reply(425);
}

void AcceptDataConnection(session::SessionHost& server, const std::shared_ptr<server::ConnectionRecord>& record,
                          ftp::ListenSocket& listener) {
  auto socket = std::make_shared<DataSocket>(listener.context(), server, record);
  if (!listener.accept(*socket)) return;
  std::string address;
  uint16_t port = 0;
  // Only the client itself may take its data connection.
  if (!socket->peerName(address, port) || address != record->identity.peer_ip.to_string()) {
    socket->closeNow();
    return;
  }
  socket->adoptAccepted();
  auto& control = record->control;
  if (control.data_socket) DisposeDataSocket(server, control.data_socket);
  control.data_socket = socket;
  control.data_connected = true;
  if (control.transfer_pending) {
    socket->setTransfer(control.transfer_argument, static_cast<TransferKind>(control.pending_transfer_kind));
    socket->startNow();
  }
  // One PASV admits exactly one data connection.
  listener.close();
  if (control.passive_listener.get() == &listener) control.passive_listener.reset();
}

}  // namespace talvek::transfer
