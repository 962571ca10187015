#include "console/support/dialog_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "settings/settings.h"

namespace talvek::test {

void ScriptedPrompts::inform(QWidget*, const QString& text, const QString& caption, QMessageBox::Icon) {
  messages.push_back({text, caption});
}

bool ScriptedPrompts::confirm(QWidget*, const QString& text, const QString&) {
  questions.push_back(text);
  if (answers.empty()) return true;
  bool answer = answers.front();
  answers.pop_front();
  return answer;
}

QString ScriptedPrompts::chooseFolder(QWidget*, const QString& title, const QString&) {
  chooser_titles.push_back(title);
  return folder;
}

QString ScriptedPrompts::chooseOpenFile(QWidget*, const QString& filter, const QString&) {
  chooser_titles.push_back(filter);
  return file;
}

QString ScriptedPrompts::chooseSaveFile(QWidget*, const QString& filter, const QString&, const QString&) {
  chooser_titles.push_back(filter);
  return file;
}

bool ScriptedPrompts::saw(const QString& text) const {
  for (const Message& message : messages)
    if (message.text == text) return true;
  return false;
}

void ScriptedPrompts::clear() {
  messages.clear();
  questions.clear();
  chooser_titles.clear();
}

void RecordingConsoleView::showMessage(const std::string& text, const std::string&, server::MessageIcon) {
  std::lock_guard lock(mutex_);
  messages_.push_back(text);
}

std::vector<std::string> RecordingConsoleView::messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

DialogServer::DialogServer(settings::Settings settings) { start(std::move(settings)); }

DialogServer::DialogServer(const std::function<void(settings::Settings&, const DialogServer&)>& adjust) {
  settings::Settings settings = LoopbackSettings(root_.dir());
  if (adjust) adjust(settings, *this);
  start(std::move(settings));
}

void DialogServer::start(settings::Settings settings) {
  store_ = std::make_unique<settings::RegistryStore>(program_directory_.path() / "settings.reg");
  server_ = std::make_unique<server::Server>(view_);
  server::ServerEnvironment environment;
  environment.program_directory = program_directory_.path();
  environment.default_ip = "127.0.0.1";
  environment.reverse_lookup = [](asio::io_context&, const std::string&, std::function<void(std::string)> done) {
    done({});
  };
  settings.general.autoStart = 0;
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
