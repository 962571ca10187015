// Handlers of the navigation commands: CWD (XCWD, SMNT), CDUP (XCUP), PWD (XPWD).
#pragma once

#include <string>

#include "session/command_context.h"

namespace talvek::ftp {

std::string HandleCwd(CommandContext& context, std::string& argument);
std::string HandleCdup(CommandContext& context, std::string& argument);
std::string HandlePwd(CommandContext& context, std::string& argument);

}  // namespace talvek::ftp
