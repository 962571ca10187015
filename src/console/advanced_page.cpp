#include "console/advanced_page.h"

#include <arpa/inet.h>

#include <algorithm>

#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QVBoxLayout>

#include "console/dialog_prompts.h"
#include "console/page_fields.h"

namespace talvek::console {

namespace {
constexpr uint32_t kMaxPort = 65535;
}  // namespace

AdvancedPage::AdvancedPage(DialogPrompts& prompts, QWidget* parent)
    : QWidget(parent),
      prompts_(prompts),
      port_(Named(new QLineEdit(this), "portEdit")),
      always_port_(Named(new QCheckBox(QStringLiteral("Always use this port"), this), "alwaysPortCheck")),
      addresses_(Named(new QListWidget(this), "addressList")),
      prompt_(Named(new QRadioButton(QStringLiteral("Prompt on startup"), this), "promptRadio")),
      use_default_(Named(new QRadioButton(QStringLiteral("Use as default"), this), "useDefaultRadio")),
      disable_pasv_(Named(new QCheckBox(QStringLiteral("Disable PASV connections"), this), "disablePasvCheck")),
      listen_ipv6_(Named(new QCheckBox(QStringLiteral("Also listen on IPv6"), this), "listenIpv6Check")),
      passive_min_(Named(MakeNumberField(this), "passiveMinEdit")),
      passive_max_(Named(MakeNumberField(this), "passiveMaxEdit")),
      passive_address_(Named(new QLineEdit(this), "passiveAddressEdit")) {
  auto* port_group = new QGroupBox(QStringLiteral("Server Port"), this);
  auto* port_grid = new QGridLayout(port_group);
  port_grid->addWidget(port_, 0, 0);
  port_grid->addWidget(new QLabel(QStringLiteral("(Port 21 is default)"), port_group), 0, 1);
  port_grid->addWidget(always_port_, 1, 0, 1, 2);

  auto* address_group = new QGroupBox(QStringLiteral("Default IP Address"), this);
  auto* address_layout = new QVBoxLayout(address_group);
  address_layout->addWidget(addresses_);
  address_layout->addWidget(prompt_);
  address_layout->addWidget(use_default_);

  // Behind a router: the ports it forwards and the address clients reach.
  auto* passive_group = new QGroupBox(QStringLiteral("Passive Mode (0 = any port, empty = local address)"), this);
  auto* passive_form = new QFormLayout(passive_group);
  passive_form->addRow(QStringLiteral("Lowest port"), passive_min_);
  passive_form->addRow(QStringLiteral("Highest port"), passive_max_);
  passive_form->addRow(QStringLiteral("Advertised IPv4 address"), passive_address_);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(port_group);
  layout->addWidget(address_group);
  layout->addWidget(disable_pasv_);
  layout->addWidget(listen_ipv6_);
  layout->addWidget(passive_group);
  layout->addStretch(1);
}

void AdvancedPage::load(const settings::NetSettings& net, const NetworkIdentity& identity) {
  server_address_ = identity.server_address;
  port_->setText(QString::number(net.port));
  always_port_->setChecked(net.alwaysUsePort != 0);
  addresses_->clear();
  for (const std::string& address : identity.local_addresses) {
    if (address.empty()) continue;
    addresses_->addItem(ToQString(address));
    if (address == identity.server_address) addresses_->setCurrentRow(addresses_->count() - 1);
  }
  bool use_default = identity.default_ip_set || net.useAsDefault != 0;
  (use_default ? use_default_ : prompt_)->setChecked(true);
  bool have_addresses = addresses_->count() > 0;
  prompt_->setEnabled(have_addresses);
  use_default_->setEnabled(have_addresses);
  disable_pasv_->setChecked(net.disablePasv != 0);
}

void AdvancedPage::loadNetwork(const settings::NetworkSettings& network) {
  listen_ipv6_->setChecked(network.listenIpv6 != 0);
  SetNumber(passive_min_, network.passivePortMin);
  SetNumber(passive_max_, network.passivePortMax);
  passive_address_->setText(ToQString(network.passiveAddress));
}

uint64_t AdvancedPage::portValue() const {
  // Leading digits count; text without them is 0.
  uint64_t value = 0;
  for (QChar c : port_->text().trimmed()) {
    if (!c.isDigit()) break;
    value = std::min<uint64_t>(value * 10 + static_cast<uint64_t>(c.digitValue()), uint64_t{1} << 32);
  }
  return value;
}

bool AdvancedPage::refuse(QLineEdit* field, const QString& message) {
  prompts_.inform(this, message, kConsoleCaption, QMessageBox::Warning);
  field->setFocus();
  field->selectAll();
  return false;
}

bool AdvancedPage::validate() {
  uint64_t port = portValue();
  uint32_t low = always_port_->isChecked() ? 1 : 0;
  if (port < low || port > kMaxPort) return refuse(port_, RangeMessage(low, kMaxPort));
  for (QLineEdit* field : {passive_min_, passive_max_})
    if (!NumberIn(field, 0, kMaxPort)) return refuse(field, RangeMessage(0, kMaxPort));
  settings::NetworkSettings network;
  storeNetwork(network);
  if (std::string problem = settings::PassiveRangeProblem(network); !problem.empty())
    return refuse(passive_min_, ToQString(problem));
  in_addr parsed{};
  if (!network.passiveAddress.empty() && ::inet_pton(AF_INET, network.passiveAddress.c_str(), &parsed) != 1)
    return refuse(passive_address_, QStringLiteral("Please enter a dotted IPv4 address, or nothing."));
  return true;
}

void AdvancedPage::store(settings::NetSettings& net) const {
  QListWidgetItem* selected = addresses_->currentItem();
  net.setAddressText(selected ? ToStdString(selected->text()) : server_address_);
  net.port = static_cast<uint32_t>(std::min<uint64_t>(portValue(), kMaxPort));
  net.alwaysUsePort = always_port_->isChecked() ? 1 : 0;
  net.useAsDefault = use_default_->isChecked() ? 1 : 0;
  net.disablePasv = disable_pasv_->isChecked() ? 1 : 0;
}

void AdvancedPage::storeNetwork(settings::NetworkSettings& network) const {
  network.listenIpv6 = listen_ipv6_->isChecked() ? 1 : 0;
  network.passivePortMin = NumberIn(passive_min_, 0, kMaxPort).value_or(0);
  network.passivePortMax = NumberIn(passive_max_, 0, kMaxPort).value_or(0);
  network.passiveAddress = ToStdString(passive_address_->text().trimmed());
}

}  // namespace talvek::console
