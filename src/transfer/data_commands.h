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

// The STOU name for a local time: "%Y_%m_%d_%H_%M_%S".
std::string UniqueNameFor(std::time_t when);

}  // namespace talvek::transfer
