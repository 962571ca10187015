#include "commands/command_dispatch.h"
#include "protocol/reply_table.h"
#include "commands/extension_commands.h"
#include "commands/file_commands.h"
#include "commands/login_commands.h"
#include "commands/navigation_commands.h"
#include "commands/security_commands.h"
#include "commands/status_commands.h"
#include "transfer/data_commands.h"

namespace talvek::ftp {

std::string RunCommand(Command command, CommandContext& context, std::string& argument) {
  if (auto refusal = TlsPolicyRefusal(command, context)) return *refusal;
  switch (command) {
    case Command::Noop: return HandleNoop(context, argument);
    case Command::Syst: return HandleSyst(context, argument);
    case Command::Site:
    case Command::Allo:
    case Command::Macb:
    case Command::Acct: return HandleSuperfluous(context, argument);
    case Command::Type: return HandleType(context, argument);
    case Command::Mode: return HandleMode(context, argument);
    case Command::Stru: return HandleStru(context, argument);
    case Command::Stat: return HandleStat(context, argument);
    case Command::Xsts: return HandleXsts(context, argument);
    case Command::Help: return HandleHelp(context, argument);
    case Command::Quit: return HandleQuit(context, argument);
    case Command::User: return HandleUser(context, argument);
    case Command::Pass: return HandlePass(context, argument);
    case Command::Rein: return HandleRein(context, argument);
    case Command::Cwd: return HandleCwd(context, argument);
    case Command::Cdup: return HandleCdup(context, argument);
    case Command::Pwd: return HandlePwd(context, argument);
    case Command::Dele: return HandleDele(context, argument);
    case Command::Rmd: return HandleRmd(context, argument);
    case Command::Mkd: return HandleMkd(context, argument);
    case Command::Rnfr: return HandleRnfr(context, argument);
    case Command::Rnto: return HandleRnto(context, argument);
    case Command::Port: return transfer::HandlePort(context, argument);
    case Command::Pasv: return transfer::HandlePasv(context, argument);
    case Command::Epsv: return transfer::HandleEpsv(context, argument);
    case Command::Eprt: return transfer::HandleEprt(context, argument);
    case Command::Rest: return transfer::HandleRest(context, argument);
    case Command::Abor: return transfer::HandleAbor(context, argument);
    case Command::Retr: return transfer::HandleRetr(context, argument);
    case Command::Stor: return transfer::HandleStor(context, argument);
    case Command::Stou: return transfer::HandleStou(context, argument);
    case Command::Appe: return transfer::HandleAppe(context, argument);
    case Command::List: return transfer::HandleList(context, argument);
    case Command::Nlst: return transfer::HandleNlst(context, argument);
    case Command::Mlsd: return transfer::HandleMlsd(context, argument);
    case Command::Feat: return HandleFeat(context, argument);
    case Command::Opts: return HandleOpts(context, argument);
    case Command::Size: return HandleSize(context, argument);
    case Command::Mdtm: return HandleMdtm(context, argument);
    case Command::Mfmt: return HandleMfmt(context, argument);
    case Command::Mlst: return HandleMlst(context, argument);
    case Command::Auth: return HandleAuth(context, argument);
    case Command::Pbsz: return HandlePbsz(context, argument);
    case Command::Prot: return HandleProt(context, argument);
    default:
      // Commands whose handlers this build does not have yet.
      return Reply(502);
  }
}

}  // namespace talvek::ftp
