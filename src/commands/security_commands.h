// Explicit FTPS (RFC 4217): AUTH TLS, PBSZ and PROT, the policy of
// "TlsMode" 2 (TLS before login and for every transfer), and what FEAT
// offers. Control thread.
#pragma once

#include <optional>
#include <string>

#include "protocol/command_table.h"
#include "session/command_context.h"

namespace talvek::ftp {

std::string HandleAuth(CommandContext& context, std::string& argument);
std::string HandlePbsz(CommandContext& context, std::string& argument);
std::string HandleProt(CommandContext& context, std::string& argument);
// The refusal of `command` when the TLS policy forbids it now, else nothing.
std::optional<std::string> TlsPolicyRefusal(Command command, CommandContext& context);
// FEAT's TLS lines ("" while TLS is off).
std::string TlsFeatures(const CommandContext& context);

}  // namespace talvek::ftp
