// The "Multi-Homed Host IP Address Selection" dialog: on a host with several
// addresses, the operator picks the one the server binds to at start-up.
#pragma once

#include <string>
#include <vector>

#include <QDialog>

#include "server/server.h"
#include "settings/registry_store.h"

class QCheckBox;
class QListWidget;

namespace talvek::console {

struct AddressChoice {
  std::string address;  // empty when the dialog was closed without OK
  bool always = false;  // "Always use this IP address"
};

class AddressChoiceDialog : public QDialog {
  Q_OBJECT
 public:
  // Lists every non-empty address, the first one selected.
  AddressChoiceDialog(const std::vector<std::string>& addresses, QWidget* parent);
  AddressChoice choice() const;

 private:
  QListWidget* addresses_;
  QCheckBox* always_;
};

// Shows the dialog modally; the chosen dotted address, or "" when it was closed.
std::string ChooseServerAddress(const std::vector<std::string>& addresses, QWidget* parent);
AddressChoice AskServerAddress(const std::vector<std::string>& addresses, QWidget* parent);

// The server's start-up hook: asks with the dialog and, when "Always use
// this IP address" was on, writes "DefaultIP" to `store` and saves it.
// The store must outlive the server's initialisation.
server::AddressChooser MakeAddressChooser(settings::RegistryStore& store, QWidget* parent);

}  // namespace talvek::console
