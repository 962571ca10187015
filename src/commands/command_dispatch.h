// The dispatcher: runs the handler of each command of the table. The server
// hands it to the sessions, which cannot see the handlers themselves.
#pragma once

#include <string>

#include "protocol/command_table.h"
#include "session/command_context.h"

namespace talvek::ftp {

// Runs the handler of `command`.
std::string RunCommand(Command command, CommandContext& context, std::string& argument);

}  // namespace talvek::ftp
