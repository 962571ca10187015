// The running daemon's process id in "<settings file>.pid", so that
// "talvek-ftpd reload" finds the daemon of the same settings file.
#pragma once

#include <filesystem>
#include <ostream>
#include <sys/types.h>

namespace talvek::app {

std::filesystem::path PidFilePath(const std::filesystem::path& settings_file);

// Written atomically by the daemon at start; removed when it goes (unless
// another daemon has written its own meanwhile). One owner, main thread.
class PidFile {
 public:
  explicit PidFile(const std::filesystem::path& settings_file);
  ~PidFile();
  PidFile(const PidFile&) = delete;
  PidFile& operator=(const PidFile&) = delete;
  int error() const { return error_; }  // 0, or the errno of the failed write

 private:
  std::filesystem::path path_;
  int error_ = 0;
};

// "reload": sends SIGHUP to the daemon named by the pid file. Returns 0 when
// sent; 1 with the reason on `err` when no such daemon runs.
int SignalReload(const std::filesystem::path& settings_file, std::ostream& out, std::ostream& err);

}  // namespace talvek::app
