// A real server on 127.0.0.1 for the connected-user and cache view tests:
// ephemeral port, temporary FTP root and program directory, and a fake
// reverse lookup that names every client, so that display names differ
// from dotted addresses.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "server/server.h"
#include "support/test_support.h"

namespace talvek::test {

inline const std::string kFakeClientName = "client.example.test";

struct UserServerOptions {
  bool file_lists = false;
  bool monitor = false;
  bool filter_enabled = false;
  bool block_listed = false;
  bool anonymous = true;  // anonymous logins allowed, read rights
  bool cache_dirs = true;
  bool cache_files = true;
  std::vector<std::string> filter_entries{};  // written to Filters.txt before the start
};

// Records the operator's message boxes, from any thread.
class UserFixtureView : public server::OperatorView {
 public:
  void setStatusText(const std::string&) override {}
  void showMessage(const std::string& text, const std::string&, server::MessageIcon) override;
  void setTitle(const std::string&) override {}
  void userListChanged() override {}
  void appendMonitorText(const std::string&) override {}
  std::vector<std::string> messages() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> messages_;
};

class UserServerFixture {
 public:
  explicit UserServerFixture(UserServerOptions options = {});
  ~UserServerFixture();

  server::Server& server() { return *server_; }
  UserFixtureView& view() { return view_; }
  uint16_t port() const { return port_; }
  const TempDir& ftpRoot() const { return ftp_root_; }
  const std::filesystem::path& programDirectory() const { return program_directory_.path(); }

  // A connected client that has read the greeting; null when that failed.
  std::unique_ptr<LineClient> connect();
  // A client logged in as anonymous.
  std::unique_ptr<LineClient> connectAnonymous();
  // Waits (bounded) until `count` connections are registered.
  bool waitForRegistered(size_t count);
  // The single registered record (null unless exactly one).
  std::shared_ptr<server::ConnectionRecord> onlyRecord() const;
  // Downloads `name` in passive mode; its CR LF lines, or nothing.
  std::optional<std::string> download(LineClient& client, const std::string& name);
  // Lists the current directory in passive mode.
  std::optional<std::string> list(LineClient& client);

 private:
  std::optional<std::string> passiveTransfer(LineClient& client, const std::string& command);

  TempDir program_directory_;
  TempDir ftp_root_;
  UserFixtureView view_;
  std::unique_ptr<server::Server> server_;
  uint16_t port_ = 0;
};

}  // namespace talvek::test
