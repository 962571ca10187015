#include "console/support/dialog_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <regex>

#include "settings/settings.h"

namespace talvek::test {

bool ScriptedPrompts::confirm(QWidget*, const QString& text, const QString&) {
  questions.push_back(text);
  if (answers.empty()) return true;
  bool answer = answers.front();
  answers.pop_front();
  return answer;
}

bool ScriptedPrompts::saw(const QString& text) const {
  for (const Message& message : messages)
    if (message.text == text) return true;
  return false;
}

DialogServer::DialogServer(const Adjust& adjust, std::string client_name)
    : store_(std::make_unique<settings::RegistryStore>(program_directory_.path() / "settings.reg")) {
  settings::WriteNewInstall(*store_, 0);
  settings::Settings settings = LoopbackSettings(root_.dir());
  if (adjust) adjust(settings, *this);
  settings.general.autoStart = 0;
  server_ = std::make_unique<server::Server>(view_.operatorView());
  server::ServerEnvironment environment;
  environment.program_directory = program_directory_.path();
  environment.default_ip = "127.0.0.1";
  environment.reverse_lookup = [client_name](asio::io_context&, const std::string&,
                                             std::function<void(std::string)> done) { done(client_name); };
  server_->initialise(settings, environment);
  server_->toggleActive();
  auto started = server_->waitForStart();
  if (started && started->listening) port_ = started->port;
  // The Advanced page refuses port 0 while "Always use this port" is set.
  server_->updateSettings([this](settings::Settings& current) { current.net.port = port_; });
}

DialogServer::~DialogServer() { server_->shutdown(); }

std::unique_ptr<LineClient> DialogServer::connect(const std::string& source) {
  auto client = std::make_unique<LineClient>();
  if (!client->connect(port_, "127.0.0.1", source)) return nullptr;
  auto greeting = client->readReply();
  if (!greeting || greeting->rfind("220 ", 0) != 0) return nullptr;
  return client;
}

std::unique_ptr<LineClient> DialogServer::login(const std::string& user, const std::string& password) {
  auto client = connect();
  if (!client) return nullptr;
  auto asked = client->ask("USER " + user);
  if (!asked || asked->rfind("331", 0) != 0) return nullptr;
  auto logged = client->ask("PASS " + password);
  if (!logged || logged->find("230 ") == std::string::npos) return nullptr;
  return client;
}

bool DialogServer::waitForRegistered(size_t count) {
  return WaitUntil([&] { return server_->registrySnapshot().size() == count; });
}

std::shared_ptr<server::ConnectionRecord> DialogServer::onlyRecord() const {
  auto registry = server_->registrySnapshot();
  return registry.size() == 1 ? registry.front() : nullptr;
}

std::optional<std::string> DialogServer::passiveTransfer(LineClient& client, const std::string& command) {
  auto passive = client.ask("PASV");
  std::smatch numbers;
  static const std::regex kPort(R"(\((\d+),(\d+),(\d+),(\d+),(\d+),(\d+)\))");
  if (!passive || !std::regex_search(*passive, numbers, kPort)) return std::nullopt;
  LineClient data;
  if (!data.connect(static_cast<uint16_t>(std::stoi(numbers[5]) * 256 + std::stoi(numbers[6]))) ||
      !client.command(command))
    return std::nullopt;
  std::string bytes;
  // The data connection closes after the last byte; read it line by line.
  while (auto line = data.readLine(std::chrono::seconds(5))) bytes += *line + "\r\n";
  auto opening = client.readReply();
  auto closing = client.readReply();
  if (!opening || !closing || closing->rfind("226", 0) != 0) return std::nullopt;
  return bytes;
}

uint16_t FreeLoopbackPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  uint16_t port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  ::close(fd);
  return port;
}

}  // namespace talvek::test
