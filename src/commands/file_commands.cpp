#include "commands/file_commands.h"

#include <sys/stat.h>

#include <cerrno>

#include "session/control_connection.h"
#include "protocol/path_rules.h"
#include "protocol/reply_table.h"
#include "session/session_root.h"
#include "session/connection_record.h"
#include "session/session_host.h"

namespace talvek::ftp {

namespace {

constexpr uint8_t kWrite = 2;
constexpr uint8_t kDelete = 4;

const char kNoDeletePermission[] = "550 You do not have delete permission on this server";
const char kDeleteFailed[] = "450 Delete operation failed";

bool Has(const CommandContext& context, uint8_t bit) { return (context.record.control.permissions & bit) != 0; }

std::string CurrentDirectory(const server::ConnectionRecord& record) {
  return record.texts.lock()->current_directory;
}

// Where a command acts: the session's root and the argument as a path below
// it. Commands with the path check give the checked argument (relative to
// the working directory); the others the client's path as sent.
struct Target {
  std::shared_ptr<const platform::ConfinedFs> root;
  std::optional<std::string> path;
};

Target Checked(CommandContext& context, const std::string& checked) {
  auto root = SessionRoot(context.server, context.record);
  if (!root) return {};
  return {root, JoinPath(WorkingDirectory(*root, context.record), checked)};
}

Target AsSent(CommandContext& context, const std::string& argument) {
  auto root = SessionRoot(context.server, context.record);
  if (!root) return {};
  return {root, ClientPathBelowRoot(WorkingDirectory(*root, context.record), argument)};
}

bool Exists(const Target& target) { return target.path && target.root->lstat(*target.path).ok(); }

}  // namespace

std::string HandleDele(CommandContext& context, std::string& argument) {
  if (!Has(context, kDelete)) return kNoDeletePermission;
  Target target = AsSent(context, argument);
  if (!target.path || target.root->removeFile(*target.path) != 0) return kDeleteFailed;
  return "250 " + argument + " deleted";
}

std::string HandleRmd(CommandContext& context, std::string& argument) {
  std::string original = argument;
  if (!CheckPath(argument, CurrentDirectory(context.record), context.server.settings().ftpRootDir))
    return "501 Directory " + original + " does not exist";
  if (!Has(context, kDelete)) return kNoDeletePermission;
  // The working directory itself (an empty path) is not removable; the root
  // never is, whatever the spelling (the confined root refuses it).
  Target target = Checked(context, argument);
  if (argument.empty() || !target.path || target.root->removeDirectory(*target.path) != 0) return kDeleteFailed;
  return "250 " + argument + " deleted";
}

std::string HandleMkd(CommandContext& context, std::string& argument) {
  std::string original = argument;
  if (!CheckPath(argument, CurrentDirectory(context.record), context.server.settings().ftpRootDir))
    return "501 Directory " + original + " does not exist";
  if (!Has(context, kWrite)) return "550 You do not have write access on this server";
  Target target = Checked(context, argument);
  if (!target.path) return "501 Directory " + original + " does not exist";
  if (Exists(target)) return "550 Directory " + argument + " already exists";
  if (int error = target.root->makeDirectory(*target.path); error != 0) {
    if (error == EEXIST) return "550 Directory " + argument + " already exists";
    return FileErrorReply(FileErrorCauseFromErrno(error));
  }
  return "227 " + argument + " created";
}

std::string HandleRnfr(CommandContext& context, std::string& argument) {
  std::string& source = context.connection.renameSource();
  if (!Has(context, kDelete)) return Reply(450);
  Target target = AsSent(context, argument);
  // The root itself (an empty path) cannot be renamed away.
  if (Exists(target) && !target.path->empty()) {
    source = *target.path;
    return Reply(350);
  }
  source.clear();
  return Reply(450);
}

std::string HandleRnto(CommandContext& context, std::string& argument) {
  std::string& source = context.connection.renameSource();
  if (source.empty()) return Reply(503);
  Target target = AsSent(context, argument);
  if (Exists(target) && !Has(context, kDelete)) {
    source.clear();
    return Reply(532);
  }
  if (!target.path || target.root->rename(source, *target.path) != 0) return Reply(501);
  source.clear();
  return Reply(250);
}

}  // namespace talvek::ftp
