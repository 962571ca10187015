// A real server on 127.0.0.1 for console tests: temporary program
// directory, FTP root and settings file, and the console's queued operator
// view. The server is initialised but listens only when asked.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "console/qt_operator_view.h"
#include "server/server.h"
#include "settings/registry_store.h"
#include "settings/settings.h"
#include "support/test_support.h"

namespace talvek::test {


class QtServerFixture {
 public:
  // `adjust` may change the settings before the server reads them.
  explicit QtServerFixture(const std::function<void(settings::Settings&)>& adjust = {});
  ~QtServerFixture();
  QtServerFixture(const QtServerFixture&) = delete;
  QtServerFixture& operator=(const QtServerFixture&) = delete;

  server::Server& server() { return *server_; }
  console::QtOperatorView& view() { return view_; }
  // The settings file (not yet written); "NewInstall" is already 0.
  settings::RegistryStore& store() { return store_; }
  const std::filesystem::path& programDirectory() const { return program_directory_.path(); }
  const TempDir& root() const { return root_; }

  // Toggles the server on and waits for the listener; the port or 0.
  uint16_t startListening();
  // Waits (bounded) until `count` connections are registered.
  bool waitForRegistered(size_t count, std::chrono::milliseconds limit = std::chrono::seconds(5));

 private:
  TempDir program_directory_;
  TempDir root_;
  settings::RegistryStore store_;
  console::QtOperatorView view_;
  std::unique_ptr<server::Server> server_;
};

}  // namespace talvek::test
