// The daemon's hold on its settings file: what it last read there, so that
// SIGHUP puts the operator's changes in force and the exit writes back only
// what the daemon itself changed. Used on the main thread only.
#pragma once

#include "app/daemon_cli.h"
#include "settings/registry_store.h"
#include "settings/settings.h"

namespace talvek::server {
class Server;
}

namespace talvek::app {

class DaemonSettings {
 public:
  // `store` as the daemon starts from it (start options applied and saved).
  DaemonSettings(const settings::RegistryStore& store, const DaemonOptions& options);

  // Re-reads the settings file, the accounts file and Filters.txt, each into
  // a new copy that is swapped in, and puts them in force; connections the
  // filter now refuses are closed. A file that cannot be read keeps what was
  // in force and logs one event line.
  void reload(server::Server& server);
  // Writes over the settings file as it is on disk now only the settings the
  // daemon changed since it last read them. Returns 0 or errno.
  int saveAtExit(const server::Server& server) const;

 private:
  settings::RegistryStore base_;
  bool auto_start_switch_;
  bool background_switch_;
};

}  // namespace talvek::app
