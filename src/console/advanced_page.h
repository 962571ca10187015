// The "Advanced" page: the listening port, the default server address
// (chosen from the host's addresses) and the passive-mode switch.
#pragma once

#include <string>
#include <vector>

#include <QWidget>

#include "settings/settings.h"

class QCheckBox;
class QLineEdit;
class QListWidget;
class QRadioButton;

namespace talvek::console {

class DialogPrompts;

// What the page shows besides the "NetSettings" block.
struct NetworkIdentity {
  std::vector<std::string> local_addresses;
  std::string server_address;  // in use for this run
  bool default_ip_set = false;  // "DefaultIP" holds an address
};

class AdvancedPage : public QWidget {
  Q_OBJECT
 public:
  AdvancedPage(DialogPrompts& prompts, QWidget* parent);
  void load(const settings::NetSettings& net, const NetworkIdentity& identity);
  // False, with the range message, for a port above 65535, or 0 while
  // "Always use this port" is set.
  bool validate();
  // The selected address (the address in use when none is) and the switches.
  void store(settings::NetSettings& net) const;

 private:
  uint64_t portValue() const;

  DialogPrompts& prompts_;
  QLineEdit* port_;
  QCheckBox* always_port_;
  QListWidget* addresses_;
  QRadioButton* prompt_;
  QRadioButton* use_default_;
  QCheckBox* disable_pasv_;
  std::string server_address_;
};

}  // namespace talvek::console
