#include "commands/status_commands.h"

#include <cstdio>

#include "protocol/reply_table.h"
#include "session/connection_record.h"
#include "session/session_host.h"

namespace talvek::ftp {

std::string HandleNoop(CommandContext&, std::string&) { return Reply(200); }

std::string HandleSyst(CommandContext&, std::string&) { return Reply(215); }

std::string HandleSuperfluous(CommandContext&, std::string&) { return Reply(202); }

// Every transfer copies bytes unchanged, so the accepted values store nothing.
std::string HandleType(CommandContext&, std::string& argument) {
  bool accepted = (!argument.empty() && argument[0] == 'A') || argument == "I" || argument == "L8";
  return Reply(accepted ? 200 : 504);
}

std::string HandleMode(CommandContext&, std::string& argument) {
  return Reply(argument == "S" ? 200 : 504);
}

std::string HandleStru(CommandContext&, std::string& argument) {
  return Reply(argument == "F" ? 200 : 504);
}

std::string HandleStat(CommandContext& context, std::string&) {
  auto& record = context.record;
  if (!record.control.data_connected) return Reply(202);
  return "213 File " + record.control.transfer_argument + " : " + std::to_string(record.shared.transfer_done.load()) +
         " of " + std::to_string(record.shared.transfer_total.load()) + " bytes transfered";
}

std::string HandleXsts(CommandContext& context, std::string&) {
  return "214- Server status:\r\n214- Users connected: " +
         std::to_string(context.server.connectionCount()) +
         "\r\n214 Files transferred: " + std::to_string(context.server.fileCacheLookups()) + "\r\n";
}

std::string HandleHelp(CommandContext& context, std::string& argument) {
  return "214 " + context.server.helpTable().helpText(argument);
}

std::string HandleQuit(CommandContext&, std::string&) { return Reply(221); }

}  // namespace talvek::ftp
