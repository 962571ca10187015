#include "console/support/qt_server_fixture.h"

namespace talvek::test {

QtServerFixture::QtServerFixture(const std::function<void(settings::Settings&)>& adjust)
    : store_(program_directory_.path() / "settings.reg") {
  settings::WriteNewInstall(store_, 0);
  settings::Settings settings = LoopbackSettings(root_.dir());
  if (adjust) adjust(settings);
  server_ = std::make_unique<server::Server>(view_.operatorView());
  server::ServerEnvironment environment;
  environment.program_directory = program_directory_.path();
  environment.default_ip = "127.0.0.1";
  environment.reverse_lookup = [](asio::io_context&, const std::string&, std::function<void(std::string)> done) {
    done({});
  };
  server_->initialise(settings, environment);
}

QtServerFixture::~QtServerFixture() { server_->shutdown(); }

uint16_t QtServerFixture::startListening() {
  if (!server_->active()) server_->toggleActive();
  auto started = server_->waitForStart();
  return started && started->listening ? started->port : 0;
}

bool QtServerFixture::waitForRegistered(size_t count, std::chrono::milliseconds limit) {
  return WaitUntil([&] { return server_->registrySnapshot().size() == count; }, limit);
}

}  // namespace talvek::test
