#include "session/session_root.h"

#include "protocol/path_rules.h"
#include "session/connection_record.h"
#include "session/session_host.h"

namespace talvek::ftp {

std::shared_ptr<const platform::ConfinedFs> SessionRoot(session::SessionHost& server, server::ConnectionRecord& record) {
  std::string ftp_root = server.settings().ftpRootDir;
  std::lock_guard lock(record.text_mutex);
  if (!record.root_fs)
    record.root_fs = platform::ConfinedFs::Open(record.root_directory.empty() ? ftp_root : record.root_directory).value;
  return record.root_fs;
}

void SetSessionRoot(server::ConnectionRecord& record, const std::string& root) {
  std::string directory = root.empty() || root.back() == '/' ? root : root + "/";
  auto opened = platform::ConfinedFs::Open(directory).value;
  std::lock_guard lock(record.text_mutex);
  record.root_directory = directory;
  record.current_directory = directory;
  record.root_fs = std::move(opened);
}

std::string WorkingDirectory(const platform::ConfinedFs& root, const server::ConnectionRecord& record) {
  std::lock_guard lock(record.text_mutex);
  // A working directory that is not below the root (the FTP root changed
  // before login) counts as the root.
  return BelowRoot(root.root(), record.current_directory).value_or(std::string());
}

void SetWorkingDirectory(server::ConnectionRecord& record, const platform::ConfinedFs& root,
                         const std::string& relative) {
  std::lock_guard lock(record.text_mutex);
  record.current_directory = root.root() + (relative.empty() ? "" : relative + "/");
}

}  // namespace talvek::ftp
