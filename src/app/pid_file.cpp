#include "app/pid_file.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/atomic_file.h"

namespace talvek::app {

namespace {

constexpr size_t kMaxPidFileBytes = 64;

// The pid the file names, or 0 when it is missing or not a plain number.
pid_t ReadPid(const std::filesystem::path& path) {
  std::string text;
  if (platform::ReadWholeFile(path, kMaxPidFileBytes, text) != 0) return 0;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (text.empty() || text.size() > 9) return 0;
  pid_t pid = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    pid = pid * 10 + (c - '0');
  }
  return pid;
}

// A pid left by a daemon that was killed may since name another program.
bool IsDaemon(pid_t pid) {
  std::string command;
  if (platform::ReadWholeFile("/proc/" + std::to_string(pid) + "/comm", kMaxPidFileBytes, command) != 0) return false;
  return command.starts_with("talvek-ftpd");
}

}  // namespace

std::filesystem::path PidFilePath(const std::filesystem::path& settings_file) {
  return settings_file.string() + ".pid";
}

PidFile::PidFile(const std::filesystem::path& settings_file) : path_(PidFilePath(settings_file)) {
  error_ = platform::WriteFileAtomically(path_, std::to_string(::getpid()) + "\n", 0644);
}

PidFile::~PidFile() {
  if (error_ == 0 && ReadPid(path_) == ::getpid()) ::unlink(path_.c_str());
}

int SignalReload(const std::filesystem::path& settings_file, std::ostream& out, std::ostream& err) {
  auto path = PidFilePath(settings_file);
  pid_t pid = ReadPid(path);
  if (pid <= 1 || !IsDaemon(pid)) {
    err << "talvek-ftpd: no daemon of " << settings_file.string() << " is running (" << path.string()
        << (pid <= 1 ? " is missing or unreadable)\n" : " names no talvek-ftpd)\n");
    return 1;
  }
  if (::kill(pid, SIGHUP) != 0) {
    err << "talvek-ftpd: cannot signal process " << pid << ": " << std::strerror(errno) << "\n";
    return 1;
  }
  out << "Asked talvek-ftpd (process " << pid << ") to reload its settings, accounts and IP filter list\n";
  return 0;
}

}  // namespace talvek::app
