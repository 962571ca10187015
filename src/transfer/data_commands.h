// The data-side command handlers: PORT, PASV, EPRT, EPSV, REST, ABOR and the seven
// transfer commands, run by the dispatcher on the control thread; plus the
// passive listener's accept of a data connection.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "session/command_context.h"
#include "transfer/transfer_job.h"

namespace talvek::ftp {
class ListenSocket;
}

namespace talvek::transfer {

std::string HandlePort(ftp::CommandContext& context, std::string& argument);
std::string HandlePasv(ftp::CommandContext& context, std::string& argument);
std::string HandleEpsv(ftp::CommandContext& context, std::string& argument);
std::string HandleEprt(ftp::CommandContext& context, std::string& argument);
std::string HandleRest(ftp::CommandContext& context, std::string& argument);
std::string HandleAbor(ftp::CommandContext& context, std::string& argument);
std::string HandleRetr(ftp::CommandContext& context, std::string& argument);
std::string HandleStor(ftp::CommandContext& context, std::string& argument);
std::string HandleStou(ftp::CommandContext& context, std::string& argument);
std::string HandleAppe(ftp::CommandContext& context, std::string& argument);
std::string HandleList(ftp::CommandContext& context, std::string& argument);
std::string HandleNlst(ftp::CommandContext& context, std::string& argument);
std::string HandleMlsd(ftp::CommandContext& context, std::string& argument);

// The shared start of the transfer commands; returns the reply line.
std::string StartTransfer(ftp::CommandContext& context, std::string& argument, TransferKind kind);

// The passive listener of `record` has a connection pending.
void AcceptDataConnection(session::SessionHost& server, const std::shared_ptr<server::ConnectionRecord>& record,
                          ftp::ListenSocket& listener);

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

// The STOU name for a local time: "%Y_%m_%d_%H_%M_%S".
std::string UniqueNameFor(std::time_t when);

}  // namespace talvek::transfer
