#include "commands/navigation_commands.h"

#include <fcntl.h>
#include <unistd.h>

#include "protocol/path_rules.h"
#include "protocol/reply_table.h"
#include "session/session_root.h"
#include "session/connection_record.h"
#include "session/session_host.h"

namespace talvek::ftp {

namespace {

std::string NoSuchDirectory(const std::string& argument) {
  return "501 Directory " + argument + " does not exist";
}

std::string NowCurrent(const std::string& shown) { return "250 " + shown + " is current working directory"; }

// A directory below the root that can be entered.
bool Enterable(const platform::ConfinedFs& root, const std::string& relative) {
  auto directory = root.open(relative, O_PATH | O_DIRECTORY);
  return directory.ok() && ::faccessat(directory.value.get(), ".", X_OK, 0) == 0;
}

}  // namespace

std::string HandleCwd(CommandContext& context, std::string& argument) {
  if (argument == "..") return HandleCdup(context, argument);
  auto root = SessionRoot(context.server, context.record);
  if (!root) return NoSuchDirectory(argument);
  if (argument == "." || argument == "/") {
    SetWorkingDirectory(context.record, *root, "");
    return "250 / is current working directory";
  }
  std::string ftp_root = context.server.settings().ftpRootDir;
  std::string current = context.record.texts.lock()->current_directory;
  if (!CheckPath(argument, current, ftp_root)) return NoSuchDirectory(argument);
  // Below the working directory first, then below the root; PWD shows paths
  // below the FTP root, so a user whose root lies deeper may use those too.
  std::optional<std::string> candidates[] = {JoinPath(WorkingDirectory(*root, context.record), argument), argument,
                                             BelowRoot(root->root(), ftp_root + argument)};
  for (const auto& candidate : candidates) {
    if (!candidate || !Enterable(*root, *candidate)) continue;
    SetWorkingDirectory(context.record, *root, *candidate);
    return NowCurrent(argument);
  }
  return NoSuchDirectory(argument);
}

std::string HandleCdup(CommandContext& context, std::string& argument) {
  auto root = SessionRoot(context.server, context.record);
  if (!root) return NoSuchDirectory(argument);
  std::string working = WorkingDirectory(*root, context.record);
  if (working.empty()) return NoSuchDirectory(argument);
  size_t slash = working.find_last_of('/');
  std::string parent = slash == std::string::npos ? std::string() : working.substr(0, slash);
  if (!Enterable(*root, parent)) return Reply(501);
  SetWorkingDirectory(context.record, *root, parent);
  return Reply(250);
}

std::string HandlePwd(CommandContext& context, std::string&) {
  std::string ftp_root = context.server.settings().ftpRootDir;
  std::string current = context.record.texts.lock()->current_directory;
  return "257 \"" + DisplayedPath(current, ftp_root) + "\" is current working directory";
}

}  // namespace talvek::ftp
