#include "ftp/file_commands.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "ftp/control_connection.h"
#include "ftp/reply_table.h"
#include "ftp/virtual_path.h"
#include "server/connection_record.h"
#include "server/server.h"

namespace talvek::ftp {

namespace {

constexpr uint8_t kWrite = 2;
constexpr uint8_t kDelete = 4;

const char kNoDeletePermission[] = "550 You do not have delete permission on this server";
const char kDeleteFailed[] = "450 Delete operation failed";

std::string CurrentDirectory(const server::ConnectionRecord& record) {
  std::lock_guard lock(record.text_mutex);
  return record.current_directory;
}

bool Has(const CommandContext& context, uint8_t bit) { return (context.record.permissions & bit) != 0; }

// The local path for current directory + `relative`, or nothing when it
// would leave the connection's root.
std::optional<std::string> Inside(CommandContext& context, const std::string& relative) {
  std::string ftp_root = context.server.settings().ftpRootDir;
  return ConfineToRoot(ConfinementRoot(context.record, ftp_root), CurrentDirectory(context.record) + relative);
}

}  // namespace

int MoveWithoutOverwrite(const std::string& from, const std::string& to) {
#ifdef SYS_renameat2
  if (::syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != ENOSYS && errno != EINVAL) return errno;
#endif
  // Without renameat2 support: a hard link never replaces its target (files only).
  if (::link(from.c_str(), to.c_str()) != 0) return errno;
  if (::unlink(from.c_str()) != 0) {
    int error = errno;
    ::unlink(to.c_str());
    return error;
  }
  return 0;
}

std::string HandleDele(CommandContext& context, std::string& argument) {
  std::string ftp_root = context.server.settings().ftpRootDir;
  auto path = ResolveClientPath(context.record, argument, ftp_root);
  if (!Has(context, kDelete)) return kNoDeletePermission;
  struct stat info {};
  if (!path || ::lstat(path->c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return kDeleteFailed;
  if (::unlink(path->c_str()) != 0) return kDeleteFailed;
  context.server.forgetCachedPath(*path);
  return "250 " + argument + " deleted";
}

std::string HandleRmd(CommandContext& context, std::string& argument) {
  std::string ftp_root = context.server.settings().ftpRootDir;
  std::string original = argument;
  if (!CheckPath(argument, CurrentDirectory(context.record), ftp_root))
    return "501 Directory " + original + " does not exist";
  auto path = Inside(context, argument);
  if (!Has(context, kDelete)) return kNoDeletePermission;
  // The root itself and the current directory are not removable.
  if (!path || argument.empty() || ::rmdir(path->c_str()) != 0) return kDeleteFailed;
  context.server.forgetCachedPath(*path);
  return "250 " + argument + " deleted";
}

std::string HandleMkd(CommandContext& context, std::string& argument) {
  std::string ftp_root = context.server.settings().ftpRootDir;
  std::string original = argument;
  if (!CheckPath(argument, CurrentDirectory(context.record), ftp_root))
    return "501 Directory " + original + " does not exist";
  if (!Has(context, kWrite)) return "550 You do not have write access on this server";
  // Made from the checked path, as CWD would find it again.
  auto path = Inside(context, argument);
  if (!path) return "501 Directory " + original + " does not exist";
  if (EntryExists(*path)) return "550 Directory " + argument + " already exists";
  if (::mkdir(path->c_str(), 0755) != 0) return FileErrorReply(FileErrorCauseFromErrno(errno));
  context.server.forgetCachedPath(*path);
  return "227 " + argument + " created";
}

std::string HandleRnfr(CommandContext& context, std::string& argument) {
  std::string& source = context.connection.renameSource();
  if (!Has(context, kDelete)) return Reply(450);
  std::string ftp_root = context.server.settings().ftpRootDir;
  auto path = ResolveClientPath(context.record, argument, ftp_root);
  std::string root = ConfinementRoot(context.record, ftp_root);
  // The root itself cannot be renamed away.
  if (path && EntryExists(*path) && *path + "/" != root && *path != root) {
    source = *path;
    return Reply(350);
  }
  source.clear();
  return Reply(450);
}

std::string HandleRnto(CommandContext& context, std::string& argument) {
  std::string& source = context.connection.renameSource();
  if (source.empty()) return Reply(503);
  std::string ftp_root = context.server.settings().ftpRootDir;
  auto target = ResolveClientPath(context.record, argument, ftp_root);
  if (target && EntryExists(*target) && !Has(context, kDelete)) {
    source.clear();
    return Reply(532);
  }
  if (!target || MoveWithoutOverwrite(source, *target) != 0) return Reply(501);
  context.server.forgetCachedPath(source);
  context.server.forgetCachedPath(*target);
  source.clear();
  return Reply(250);
}

}  // namespace talvek::ftp
