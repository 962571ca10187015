// Runs the real talvek-ftpd as a child process in a sandbox directory:
// its own settings file, program directory (with a copy of the shipped
// defaults.reg), FTP root, HOME and XDG_CONFIG_HOME, so nothing outside the
// sandbox is read or written. Every wait is bounded; a daemon still running
// when its guard goes away is killed.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace talvek::test {

// A port that was free on 127.0.0.1 a moment ago (bound to port 0, then closed).
uint16_t FreeLoopbackPort();

struct RunResult {
  int status = -1;  // exit status; -1 when killed or not started
  std::string out;
  std::string err;
};

class Sandbox {
 public:
  Sandbox();
  const std::filesystem::path& path() const { return dir_.path(); }
  std::filesystem::path settingsFile() const { return path() / "conf" / "settings.reg"; }
  std::filesystem::path accountsFile() const { return path() / "conf" / "accounts.lgn"; }
  std::filesystem::path programDir() const { return path() / "prog"; }
  std::filesystem::path root() const { return path() / "root"; }
  // Runs the daemon with `args` to completion (killed after `limit`).
  RunResult run(const std::vector<std::string>& args,
                std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
  // `config set NAME VALUE`; true when it exits 0.
  bool set(const std::string& name, const std::string& value) const;
  // `config get NAME` without its line feed; "<failed>" when it does not exit 0.
  std::string get(const std::string& name) const;
  // Bind loopback only, on a fresh port; returns the port.
  uint16_t prepareLoopback() const;

 private:
  TempDir dir_;
};

class Daemon {
 public:
  // Starts talvek-ftpd with the sandbox's --settings and --program-dir, then
  // `args`; `cwd` is the child's working directory (the sandbox when empty).
  Daemon(const Sandbox& sandbox, const std::vector<std::string>& args, std::filesystem::path cwd = {});
  ~Daemon();
  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;

  pid_t pid() const { return pid_; }
  std::string out() const { return ReadFile(out_file_); }
  std::string err() const { return ReadFile(err_file_); }
  // Waits until stdout holds `text`.
  bool waitForOutput(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
  bool waitListening(uint16_t port, std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
  bool signal(int number) const;
  // The exit status once the child has exited within `limit`; nothing when it
  // is still running or died from a signal.
  std::optional<int> waitExit(std::chrono::milliseconds limit);
  bool running();

 private:
  std::filesystem::path out_file_;
  std::filesystem::path err_file_;
  pid_t pid_ = -1;
  bool reaped_ = false;
  int status_ = -1;
};

// The greeting every admitted client receives first.
inline const std::string kGreeting = "220 Service ready for new user";

}  // namespace talvek::test
