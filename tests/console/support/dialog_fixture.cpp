#include "console/support/dialog_fixture.h"

#include <regex>

#include <QLineEdit>
#include <QSpinBox>
#include <QTest>

#include "settings/settings.h"

namespace talvek::test {

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

std::unique_ptr<LineClient> DialogServer::connect(const std::string& source) {
  auto client = std::make_unique<LineClient>();
  if (!client->connect(port_, "127.0.0.1", source)) return nullptr;
  auto greeting = client->readReply();
  if (!greeting || greeting->rfind("220 ", 0) != 0) return nullptr;
  return client;
}

std::unique_ptr<LineClient> DialogServer::login(const std::string& user, const std::string& password) {
  auto client = connect();
  auto asked = client ? client->ask("USER " + user) : std::nullopt;
  auto logged = asked && asked->rfind("331", 0) == 0 ? client->ask("PASS " + password) : std::nullopt;
  return logged && logged->find("230 ") != std::string::npos ? std::move(client) : nullptr;
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

void Click(QWidget* parent, const char* name) { QTest::mouseClick(Find(parent, name), Qt::LeftButton); }

void Set(QWidget* parent, const std::vector<std::pair<const char*, QVariant>>& values) {
  for (const auto& [name, value] : values) {
    if (auto* edit = Find<QLineEdit>(parent, name)) edit->setText(value.toString());
    if (auto* spin = Find<QSpinBox>(parent, name)) spin->setValue(value.toInt());
    if (auto* box = Find<QAbstractButton>(parent, name)) box->setChecked(value.toBool());
  }
}

void Press(QDialog* dialog, QDialogButtonBox::StandardButton which) {
  QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(which), Qt::LeftButton);
}

QStringList Texts(QWidget* parent, const char* list_name) {
  auto* list = Find<QListWidget>(parent, list_name);
  QStringList texts;
  for (int row = 0; row < list->count(); ++row) texts << list->item(row)->text();
  return texts;
}

}  // namespace talvek::test
