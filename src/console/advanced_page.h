// The "Advanced" page: the listening port, the default server address
// (chosen from the host's addresses), the passive-mode switch, the IPv6
// listener and the passive port range and advertised address.
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
  std::string tls_fingerprint;  // of the certificate in force; "" while TLS is off (the TLS page)
};

class AdvancedPage : public QWidget {
  Q_OBJECT
 public:
  AdvancedPage(DialogPrompts& prompts, QWidget* parent);
  void load(const settings::NetSettings& net, const NetworkIdentity& identity);
  void loadNetwork(const settings::NetworkSettings& network);
  // False, with the range message, for a port above 65535, or 0 while
  // "Always use this port" is set; likewise for a passive port outside
  // 0..65535, a range whose low end is above its high end, or a passive
  // address that is not dotted IPv4.
  bool validate();
  // The selected address (the address in use when none is) and the switches.
  void store(settings::NetSettings& net) const;
  void storeNetwork(settings::NetworkSettings& network) const;

 private:
  uint64_t portValue() const;
  bool refuse(QLineEdit* field, const QString& message);

  DialogPrompts& prompts_;
  QLineEdit* port_;
  QCheckBox* always_port_;
  QListWidget* addresses_;
  QRadioButton* prompt_;
  QRadioButton* use_default_;
  QCheckBox* disable_pasv_;
  QCheckBox* listen_ipv6_;
  QLineEdit* passive_min_;
  QLineEdit* passive_max_;
  QLineEdit* passive_address_;
  std::string server_address_;
};

}  // namespace talvek::console
