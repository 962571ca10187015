// Handlers of the commands that change the file system: DELE, RMD (XRMD),
// MKD (XMKD), RNFR and RNTO. Each is gated by a permission bit and touches
// nothing outside the connection's root.
#pragma once

#include <string>

#include "ftp/command_context.h"

namespace talvek::ftp {

std::string HandleDele(CommandContext& context, std::string& argument);
std::string HandleRmd(CommandContext& context, std::string& argument);
std::string HandleMkd(CommandContext& context, std::string& argument);
std::string HandleRnfr(CommandContext& context, std::string& argument);
std::string HandleRnto(CommandContext& context, std::string& argument);

// Moves `from` to `to` without ever replacing an existing `to`. Returns 0 or errno.
int MoveWithoutOverwrite(const std::string& from, const std::string& to);

}  // namespace talvek::ftp
