// Handlers of the extensions modern clients expect: FEAT and OPTS (RFC
// 2389, 2640) and the file facts of RFC 3659 on the control connection:
// SIZE, MDTM, MFMT and MLST (MLSD is a transfer, beside LIST). Each reads
// and changes files only through the session's confined root.
#pragma once

#include <string>

#include "session/command_context.h"

namespace talvek::ftp {

std::string HandleFeat(CommandContext& context, std::string& argument);
std::string HandleOpts(CommandContext& context, std::string& argument);
std::string HandleSize(CommandContext& context, std::string& argument);
std::string HandleMdtm(CommandContext& context, std::string& argument);
std::string HandleMfmt(CommandContext& context, std::string& argument);
std::string HandleMlst(CommandContext& context, std::string& argument);

}  // namespace talvek::ftp
