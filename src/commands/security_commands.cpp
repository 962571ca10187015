#include "commands/security_commands.h"

#include "protocol/reply_table.h"
#include "session/connection_record.h"
#include "session/control_connection.h"
#include "session/session_host.h"
#include "settings/reg_text.h"
#include "tls/tls_filter.h"
#include "tls/tls_stream.h"

namespace talvek::ftp {

namespace {

using settings::regtext::EqualsIgnoringCase;

const std::string kAuthAccepted = "234 AUTH TLS accepted; start the TLS handshake";
const std::string kPbszAccepted = "200 PBSZ=0";
const std::string kProtPrivate = "200 Protection level set to Private";
const std::string kProtClear = "200 Protection level set to Clear";
const std::string kProtUnsupported = "536 Requested PROT level not supported by mechanism";
const std::string kTlsFirst = "534 Policy requires TLS: send AUTH TLS first";
const std::string kProtPFirst = "521 Data connection cannot be opened with this PROT setting; send PROT P";

bool Encrypted(const CommandContext& context) { return context.connection.tls() != nullptr; }

}  // namespace

std::string HandleAuth(CommandContext& context, std::string& argument) {
  auto tls_context = context.server.tlsContext();
  if (context.server.settings().tls.mode == 0 || !tls_context) return Reply(502);
  // "TLS-C" and "SSL" are older names clients still send for the same thing.
  if (!EqualsIgnoringCase(argument, "TLS") && !EqualsIgnoringCase(argument, "TLS-C") &&
      !EqualsIgnoringCase(argument, "SSL"))
    return Reply(504);
  if (Encrypted(context)) return Reply(503);
  context.record.control.tls_pbsz = false;
  context.record.control.data_protection.reset();
  context.connection.startTlsAfterReply(std::move(tls_context));
  return kAuthAccepted;
}

std::string HandlePbsz(CommandContext& context, std::string& argument) {
  if (!Encrypted(context)) return Reply(503);
  if (argument.empty() || argument.size() > 10 || argument.find_first_not_of("0123456789") != std::string::npos)
    return Reply(501);
  // Stream mode under TLS has no buffer size: any size is answered with 0.
  context.record.control.tls_pbsz = true;
  return kPbszAccepted;
}

std::string HandleProt(CommandContext& context, std::string& argument) {
  auto& control = context.record.control;
  if (!Encrypted(context) || !control.tls_pbsz) return Reply(503);
  if (EqualsIgnoringCase(argument, "C")) {
    control.data_protection.reset();
    return kProtClear;
  }
  if (EqualsIgnoringCase(argument, "S") || EqualsIgnoringCase(argument, "E")) return kProtUnsupported;
  if (!EqualsIgnoringCase(argument, "P")) return Reply(504);
  auto protection = std::make_shared<tls::DataProtection>();
  protection->context = context.server.tlsContext();
  if (!protection->context) return kProtUnsupported;
  protection->session_context = context.connection.tls()->sessionContext();
  protection->require_reuse = context.server.settings().tls.requireSessionReuse != 0;
  control.data_protection = std::move(protection);
  return kProtPrivate;
}

std::optional<std::string> TlsPolicyRefusal(Command command, CommandContext& context) {
  bool login = command == Command::User || command == Command::Pass;
  bool transfer = command == Command::Retr || command == Command::Stor || command == Command::Stou ||
                  command == Command::Appe || command == Command::List || command == Command::Nlst ||
                  command == Command::Mlsd;
  if (!login && !transfer) return std::nullopt;
  if (context.server.settings().tls.mode != 2) return std::nullopt;
  if (login && !Encrypted(context)) return kTlsFirst;
  if (transfer && context.record.control.logged_in && !context.record.control.data_protection) return kProtPFirst;
  return std::nullopt;
}

std::string TlsFeatures(const CommandContext& context) {
  if (context.server.settings().tls.mode == 0 || !context.server.tlsContext()) return "";
  return " AUTH TLS\r\n PBSZ\r\n PROT\r\n";
}

}  // namespace talvek::ftp
