// Helpers shared by the test binaries: temporary directories and a small
// blocking FTP control client with bounded waits, for driving a real server
// over loopback.
#pragma once

#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "settings/settings.h"

namespace talvek::test {

// A fresh directory under the system temp dir, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The path as text with a trailing "/".
  std::string dir() const { return path_.string() + "/"; }
  void write(const std::string& relative, const std::string& content) const;
  std::string read(const std::string& relative) const;

 private:
  std::filesystem::path path_;
};

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& content);

// A blocking TCP client with a receive deadline on every read.
class LineClient {
 public:
  LineClient() = default;
  ~LineClient();
  LineClient(const LineClient&) = delete;
  LineClient& operator=(const LineClient&) = delete;

  bool connect(uint16_t port, const std::string& address = "127.0.0.1", const std::string& source = "");
  bool send(const std::string& bytes);
  // Sends `line` followed by CR LF.
  bool command(const std::string& line) { return send(line + "\r\n"); }
  // One line without its CR LF, or nothing when the deadline passes or the
  // peer closes first.
  std::optional<std::string> readLine(std::chrono::milliseconds deadline = std::chrono::seconds(5));
  // A whole FTP reply: lines up to the one that starts "ddd ", joined with "\r\n".
  std::optional<std::string> readReply(std::chrono::milliseconds deadline = std::chrono::seconds(5));
  // Sends a command and reads its reply.
  std::optional<std::string> ask(const std::string& line);
  // True when the peer closes within the deadline (bytes still pending are read and dropped).
  bool waitClosed(std::chrono::milliseconds deadline = std::chrono::seconds(5));
  // True when nothing arrives within `quiet` (used to check that no reply comes).
  bool silentFor(std::chrono::milliseconds quiet);
  void close();

 private:
  // Reads more bytes into buffer_; false on close, error or deadline.
  bool fill(std::chrono::steady_clock::time_point until);
  int fd_ = -1;
  std::string buffer_;
  bool closed_ = false;
};

// `address` (IPv4 or IPv6 text) and `port` as a socket address; its
// length, 0 when the text is no address.
socklen_t SocketAddress(const std::string& address, uint16_t port, sockaddr_storage& storage);

// Runs a shell command, returning its exit status and capturing stdout+stderr.
struct CommandResult {
  int status = -1;
  std::string output;
};
CommandResult RunCommand(const std::string& command);

// Polls `condition` every few milliseconds until it holds or `limit` passes.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  auto until = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < until) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return condition();
}

// Settings that admit everyone on loopback, for tests to adjust.
inline settings::Settings LoopbackSettings(const std::string& ftp_root) {
  settings::Settings settings;
  settings.ftpRootDir = ftp_root;
  settings.general.maxConnections = 100;
  settings.general.connectionsPerAddress = 100;
  settings.general.refuseNew = 1;
  settings.net.port = 0;  // any free port
  settings.net.alwaysUsePort = 1;
  return settings;
}

}  // namespace talvek::test
