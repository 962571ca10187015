// Handlers of the login commands USER, PASS and REIN, and the logon
// message that precedes a successful login's 230 reply.
#pragma once

#include <filesystem>
#include <string>

#include "session/command_context.h"

namespace talvek::ftp {

std::string HandleUser(CommandContext& context, std::string& argument);
std::string HandlePass(CommandContext& context, std::string& argument);
std::string HandleRein(CommandContext& context, std::string& argument);

// Every line of `file` as "230- <line>\r\n"; empty when it cannot be read.
std::string BuildLogonMessage(const std::filesystem::path& file);

// True for the anonymous user name (any letter case).
bool IsAnonymousName(const std::string& name);

}  // namespace talvek::ftp
