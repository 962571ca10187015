// A real server on 127.0.0.1 with an ephemeral port and a temporary FTP
// root, for tests that drive the control engine through sockets.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>

#include "server/server.h"
#include "support/test_support.h"

namespace talvek::test {

// Records what the operator would see: the monitor text, and the status
// texts, messages and titles as "status: TEXT\n", "message: ..." and "title: ...".
class RecordingView : public server::OperatorView {
 public:
  void setStatusText(const std::string& text) override { add(events_, "status: " + text + "\n"); }
  void showMessage(const std::string& text, const std::string&, server::MessageIcon) override {
    add(events_, "message: " + text + "\n");
  }
  void setTitle(const std::string& title) override { add(events_, "title: " + title + "\n"); }
  void userListChanged() override {}
  void appendMonitorText(const std::string& text) override { add(monitor_, text); }

  std::string monitor() const { return copy(monitor_); }
  std::string events() const { return copy(events_); }

 private:
  void add(std::string& to, const std::string& text) {
    std::lock_guard lock(mutex_);
    to += text;
  }
  std::string copy(const std::string& text) const {
    std::lock_guard lock(mutex_);
    return text;
  }
  mutable std::mutex mutex_;
  std::string monitor_, events_;
};

class ServerFixture {
 public:
  explicit ServerFixture(settings::Settings settings, server::ServerEnvironment environment = {}) {
    server_ = std::make_unique<server::Server>(view_);
    environment.default_ip = "127.0.0.1";
    if (environment.program_directory.empty()) environment.program_directory = program_directory_.path();
    if (!environment.reverse_lookup)
      environment.reverse_lookup = [](asio::io_context&, const std::string&, std::function<void(std::string)> done) {
        done({});
      };
    settings.general.autoStart = 0;
    server_->initialise(settings, environment);
    server_->toggleActive();
    auto started = server_->waitForStart();
    if (started && started->listening) port_ = started->port;
  }
  ~ServerFixture() { server_->shutdown(); }

  uint16_t port() const { return port_; }
  server::Server& server() { return *server_; }
  RecordingView& view() { return view_; }
  const std::filesystem::path& programDirectory() const { return program_directory_.path(); }

  // A client connected from `source` (127.0.0.1 when empty; from ::1 it dials
  // the server over IPv6) that has read nothing yet.
  std::unique_ptr<LineClient> open(const std::string& source = "") {
    auto client = std::make_unique<LineClient>();
    EXPECT_TRUE(client->connect(port_, source == "::1" ? source : "127.0.0.1", source));
    return client;
  }
  // A client that has read the greeting.
  std::unique_ptr<LineClient> connect(const std::string& address = "127.0.0.1") {
    auto client = std::make_unique<LineClient>();
    EXPECT_TRUE(client->connect(port_, address));
    auto greeting = client->readReply();
    EXPECT_EQ(greeting.value_or("<none>"), "220 Service ready for new user");
    return client;
  }
  // Waits until `count` connections are registered.
  bool waitForRegistered(size_t count) {
    return WaitUntil([&] { return server_->registrySnapshot().size() == count; });
  }

 private:
  TempDir program_directory_;
  RecordingView view_;
  std::unique_ptr<server::Server> server_;
  uint16_t port_ = 0;
};

}  // namespace talvek::test
