// Handlers of the commands that change the file system: DELE, RMD (XRMD),
// MKD (XMKD), RNFR and RNTO. Each is gated by a permission bit and works
// through the session's confined root, which it never removes or renames.
#pragma once

#include <string>

#include "session/command_context.h"

namespace talvek::ftp {

std::string HandleDele(CommandContext& context, std::string& argument);
std::string HandleRmd(CommandContext& context, std::string& argument);
std::string HandleMkd(CommandContext& context, std::string& argument);
std::string HandleRnfr(CommandContext& context, std::string& argument);
std::string HandleRnto(CommandContext& context, std::string& argument);

}  // namespace talvek::ftp
