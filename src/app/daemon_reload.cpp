#include "app/daemon_reload.h"

#include "server/server.h"

namespace talvek::app {

DaemonSettings::DaemonSettings(const settings::RegistryStore& store, const DaemonOptions& options)
    : base_(settings::NormalisedCopy(store)),
      auto_start_switch_(options.auto_start),
      background_switch_(options.background) {}

void DaemonSettings::reload(server::Server& server) {
  settings::RegistryStore fresh(base_.file());
  if (fresh.load()) {
    base_ = settings::NormalisedCopy(fresh);
    settings::Settings loaded;
    settings::LoadSettings(fresh, loaded);
    // The switches of this start stay in force, as they did at start-up.
    if (auto_start_switch_) loaded.general.autoStart = 1;
    if (background_switch_) loaded.general.runInBackground = 1;
    server.applySettings(loaded, settings::ReadDefaultIp(fresh));
  } else {
    server.logEvent("Cannot read the settings file " + base_.file().string() +
                    "; the settings read before stay in force.");
  }
  server.reloadAccounts();
  server.reloadFilterList();
  server.logEvent("Reloaded the settings, the accounts file and the IP filter list");
}

int DaemonSettings::saveAtExit(const server::Server& server) const {
  settings::RegistryStore mine = base_;
  settings::SaveSettings(mine, server.settings());
  return settings::SaveChangesOverDisk(base_, mine);
}

}  // namespace talvek::app
