// Handlers of the commands that change no files: status, help, no-op,
// representation parameters and the commands accepted without effect.
#pragma once

#include <string>

#include "session/command_context.h"

namespace talvek::ftp {

std::string HandleNoop(CommandContext& context, std::string& argument);
std::string HandleSyst(CommandContext& context, std::string& argument);
std::string HandleSuperfluous(CommandContext& context, std::string& argument);  // SITE, ALLO, MACB
std::string HandleType(CommandContext& context, std::string& argument);
std::string HandleMode(CommandContext& context, std::string& argument);
std::string HandleStru(CommandContext& context, std::string& argument);
std::string HandleStat(CommandContext& context, std::string& argument);
std::string HandleXsts(CommandContext& context, std::string& argument);
std::string HandleHelp(CommandContext& context, std::string& argument);
std::string HandleQuit(CommandContext& context, std::string& argument);

}  // namespace talvek::ftp
