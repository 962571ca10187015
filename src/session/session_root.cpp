#include "session/session_root.h"

#include "protocol/path_rules.h"
#include "session/connection_record.h"
#include "session/session_host.h"

namespace talvek::ftp {

std::shared_ptr<const platform::ConfinedFs> SessionRoot(session::SessionHost& server, server::ConnectionRecord& record) {
  auto& control = record.control;
  if (!control.root_fs) {
    std::string root = control.root_directory.empty() ? server.settings().ftpRootDir : control.root_directory;
    control.root_fs = platform::ConfinedFs::Open(root).value;
  }
  return control.root_fs;
}

void SetSessionRoot(server::ConnectionRecord& record, const std::string& root) {
  std::string directory = root.empty() || root.back() == '/' ? root : root + "/";
  record.control.root_directory = directory;
  record.control.root_fs = platform::ConfinedFs::Open(directory).value;
  record.texts.lock()->current_directory = directory;
}

std::string WorkingDirectory(const platform::ConfinedFs& root, const server::ConnectionRecord& record) {
  std::string current = record.texts.lock()->current_directory;
  // A working directory that is not below the root (the FTP root changed
  // before login) counts as the root.
  return BelowRoot(root.root(), current).value_or(std::string());
}

void SetWorkingDirectory(server::ConnectionRecord& record, const platform::ConfinedFs& root,
                         const std::string& relative) {
  record.texts.lock()->current_directory = root.root() + (relative.empty() ? "" : relative + "/");
}

}  // namespace talvek::ftp
