#include "console/support/user_fixture.h"

#include <chrono>
#include <regex>

namespace talvek::test {

void UserFixtureView::showMessage(const std::string& text, const std::string&, server::MessageIcon) {
  std::lock_guard lock(mutex_);
  messages_.push_back(text);
}

std::vector<std::string> UserFixtureView::messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

UserServerFixture::UserServerFixture(UserServerOptions options) {
  settings::Settings settings;
  settings.ftpRootDir = ftp_root_.dir();
  settings.general.maxConnections = 100;
  settings.general.connectionsPerAddress = 100;
  settings.general.refuseNew = 1;
  settings.general.recordFileLists = options.file_lists ? 1 : 0;
  settings.general.monitorNew = options.monitor ? 1 : 0;
  settings.general.filterEnabled = options.filter_enabled ? 1 : 0;
  settings.general.blockListed = options.block_listed ? 1 : 0;
  settings.general.autoStart = 0;
  settings.anonymous.allow = options.anonymous ? 1 : 0;
  settings.anonymous.rights = 1;
  settings.cache.cacheDirs = options.cache_dirs ? 1 : 0;
  settings.cache.cacheFiles = options.cache_files ? 1 : 0;
  settings.net.port = 0;  // any free port
  settings.net.alwaysUsePort = 1;

  server::ServerEnvironment environment;
  environment.program_directory = program_directory_.path();
  environment.default_ip = "127.0.0.1";
  environment.reverse_lookup = [](asio::io_context&, const std::string&, std::function<void(std::string)> done) {
    done(kFakeClientName);
  };
  if (!options.filter_entries.empty()) {
    std::string lines;
    for (const auto& entry : options.filter_entries) lines += entry + "\r\n";
    WriteFile(program_directory_.path() / "Filters.txt", lines);
  }
  server_ = std::make_unique<server::Server>(view_);
  server_->initialise(settings, environment);
  server_->toggleActive();
  auto started = server_->waitForStart();
  if (started && started->listening) port_ = started->port;
}

UserServerFixture::~UserServerFixture() { server_->shutdown(); }

std::unique_ptr<LineClient> UserServerFixture::connect() {
  auto client = std::make_unique<LineClient>();
  if (!client->connect(port_)) return nullptr;
  auto greeting = client->readReply();
  if (!greeting || *greeting != "220 Service ready for new user") return nullptr;
  return client;
}

std::unique_ptr<LineClient> UserServerFixture::connectAnonymous() {
  auto client = connect();
  if (!client) return nullptr;
  auto user = client->ask("USER anonymous");
  auto pass = client->ask("PASS guest@example.test");
  if (!user || !pass || pass->find("230 ") == std::string::npos) return nullptr;
  return client;
}

bool UserServerFixture::waitForRegistered(size_t count) {
  return WaitUntil([&] { return server_->registrySnapshot().size() == count; });
}

std::shared_ptr<server::ConnectionRecord> UserServerFixture::onlyRecord() const {
  auto registry = server_->registrySnapshot();
  return registry.size() == 1 ? registry.front() : nullptr;
}

std::optional<std::string> UserServerFixture::download(LineClient& client, const std::string& name) {
  return passiveTransfer(client, "RETR " + name);
}

std::optional<std::string> UserServerFixture::list(LineClient& client) { return passiveTransfer(client, "LIST"); }

std::optional<std::string> UserServerFixture::passiveTransfer(LineClient& client, const std::string& command) {
  auto passive = client.ask("PASV");
  std::smatch numbers;
  static const std::regex kPort(R"(\((\d+),(\d+),(\d+),(\d+),(\d+),(\d+)\))");
  if (!passive || !std::regex_search(*passive, numbers, kPort)) return std::nullopt;
  auto port = static_cast<uint16_t>(std::stoi(numbers[5]) * 256 + std::stoi(numbers[6]));
  LineClient data;
  if (!data.connect(port)) return std::nullopt;
  if (!client.command(command)) return std::nullopt;
  std::string bytes;
  // The data connection closes after the last byte; read it line by line.
  while (auto line = data.readLine(std::chrono::seconds(5))) bytes += *line + "\r\n";
  auto opening = client.readReply();
  auto closing = client.readReply();
  if (!opening || !closing || closing->rfind("226", 0) != 0) return std::nullopt;
  return bytes;
}

}  // namespace talvek::test
