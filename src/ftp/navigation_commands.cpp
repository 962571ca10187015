#include "ftp/navigation_commands.h"

#include "ftp/reply_table.h"
#include "ftp/virtual_path.h"
#include "server/connection_record.h"
#include "server/server.h"

namespace talvek::ftp {

namespace {

std::string NoSuchDirectory(const std::string& argument) {
  return "501 Directory " + argument + " does not exist";
}

std::string NowCurrent(const std::string& shown) { return "250 " + shown + " is current working directory"; }

std::string CurrentDirectory(const server::ConnectionRecord& record) {
  std::lock_guard lock(record.text_mutex);
  return record.current_directory;
}

void SetCurrentDirectory(server::ConnectionRecord& record, std::string directory) {
  if (directory.empty() || directory.back() != '/') directory += '/';
  std::lock_guard lock(record.text_mutex);
  record.current_directory = std::move(directory);
}

// A directory the client may enter: existing, enterable and inside its root.
bool Enterable(const std::string& root, const std::string& candidate) {
  return DirectoryExists(candidate) && ConfineToRoot(root, candidate).has_value();
}

}  // namespace

std::string HandleCwd(CommandContext& context, std::string& argument) {
  if (argument == "..") return HandleCdup(context, argument);
  std::string ftp_root = context.server.settings().ftpRootDir;
  std::string root = ConfinementRoot(context.record, ftp_root);
  if (argument == "." || argument == "/") {
    SetCurrentDirectory(context.record, root);
    return "250 / is current working directory";
  }
  std::string current = CurrentDirectory(context.record);
  if (!CheckPath(argument, current, ftp_root)) return NoSuchDirectory(argument);
  if (std::string candidate = current + argument; Enterable(root, candidate)) {
    SetCurrentDirectory(context.record, *ConfineToRoot(root, candidate));
    return NowCurrent(argument);
  }
  if (std::string candidate = root + argument; Enterable(root, candidate)) {
    SetCurrentDirectory(context.record, *ConfineToRoot(root, candidate));
    return NowCurrent(argument);
  }
  // PWD shows paths below the FTP root, so clients build paths from there;
  // a user whose home lies deeper must be able to use them (still confined).
  if (std::string candidate = ftp_root + argument; root != ftp_root && Enterable(root, candidate)) {
    SetCurrentDirectory(context.record, *ConfineToRoot(root, candidate));
    return NowCurrent(argument);
  }
  return NoSuchDirectory(argument);
}

std::string HandleCdup(CommandContext& context, std::string& argument) {
  std::string ftp_root = context.server.settings().ftpRootDir;
  std::string root = ConfinementRoot(context.record, ftp_root);
  std::string current = CurrentDirectory(context.record);
  if (current == root) return NoSuchDirectory(argument);
  std::string parent = current.substr(0, current.empty() ? 0 : current.size() - 1);
  size_t slash = parent.find_last_of('/');
  parent = slash == std::string::npos ? std::string() : parent.substr(0, slash);
  if (!Enterable(root, parent)) return Reply(501);
  SetCurrentDirectory(context.record, parent);
  return Reply(250);
}

std::string HandlePwd(CommandContext& context, std::string&) {
  std::string ftp_root = context.server.settings().ftpRootDir;
  return "257 \"" + DisplayedPath(CurrentDirectory(context.record), ftp_root) + "\" is current working directory";
}

}  // namespace talvek::ftp
