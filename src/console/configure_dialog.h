// The "Configure Server" sheet with its six pages, and the configure flow
// that applies an accepted sheet to the running server and the settings
// store. The flow borrows the server, the store and the prompts; the sheet
// exists only while it is shown.
#pragma once

#include <memory>

#include <QDialog>

#include "console/advanced_page.h"
#include "settings/registry_store.h"
#include "settings/settings.h"

class QTabWidget;

namespace talvek::server {
class Server;
}

namespace talvek::console {

class AnonymousPage;
class CachePage;
class DialogPrompts;
class GeneralPage;
class PathsPage;
class TlsPage;

class ConfigureDialog : public QDialog {
  Q_OBJECT
 public:
  ConfigureDialog(const settings::Settings& settings, const NetworkIdentity& identity, DialogPrompts& prompts,
                  QWidget* parent);
  // Copies every page into `settings` with the value rules applied.
  void storeInto(settings::Settings& settings) const;
  QTabWidget* pages() const { return tabs_; }

  // Stays open, on the offending page, while a value is out of range.
  void accept() override;

 private:
  QTabWidget* tabs_;
  PathsPage* paths_;
  AnonymousPage* anonymous_;
  GeneralPage* general_;
  CachePage* cache_;
  AdvancedPage* advanced_;
  TlsPage* tls_;
};

class ConfigureFlow {
 public:
  ConfigureFlow(server::Server& server, settings::RegistryStore& store, DialogPrompts& prompts);

  // The sheet filled from the server's settings and network identity.
  std::unique_ptr<ConfigureDialog> makeDialog(QWidget* parent) const;
  // Everything after OK: settings, caches, idle timer, log file, default
  // address, anonymous users, and the save of the store.
  void applyAccepted(const ConfigureDialog& dialog);
  // Shows the sheet; true when it was closed with OK and applied.
  bool run(QWidget* parent);

 private:
  void applyLogFile(const settings::Settings& current, QWidget* parent);
  void saveStore(const settings::Settings& current, QWidget* parent);

  server::Server& server_;
  settings::RegistryStore& store_;
  DialogPrompts& prompts_;
};

// The console's "Configure..." command: true when OK changed the settings
// (the main window then reloads the graph colours).
bool RunConfigureFlow(server::Server& server, settings::RegistryStore& store, QWidget* parent);

}  // namespace talvek::console
