#include "console/address_choice_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QVBoxLayout>

#include "console/page_fields.h"
#include "settings/settings.h"

namespace talvek::console {

AddressChoiceDialog::AddressChoiceDialog(const std::vector<std::string>& addresses, QWidget* parent)
    : QDialog(parent),
      addresses_(new QListWidget(this)),
      always_(new QCheckBox(QStringLiteral("Always use this IP address"), this)) {
  setWindowTitle(QStringLiteral("Multi-Homed Host IP Address Selection"));
  addresses_->setObjectName(QStringLiteral("addressList"));
  always_->setObjectName(QStringLiteral("alwaysCheck"));
  for (const std::string& address : addresses)
    if (!address.empty()) addresses_->addItem(ToQString(address));
  if (addresses_->count() > 0) addresses_->setCurrentRow(0);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(addresses_, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("This computer appears to be connected to multiple TCP-IP networks.\n"
                                              "Please select the desired IP address for this FTP server from the "
                                              "list below."),
                               this));
  layout->addWidget(addresses_);
  layout->addWidget(always_);
  layout->addWidget(buttons);
}

AddressChoice AddressChoiceDialog::choice() const {
  AddressChoice choice;
  if (result() != QDialog::Accepted) return choice;
  if (QListWidgetItem* selected = addresses_->currentItem()) choice.address = ToStdString(selected->text());
  choice.always = always_->isChecked() && !choice.address.empty();
  return choice;
}

AddressChoice AskServerAddress(const std::vector<std::string>& addresses, QWidget* parent) {
  AddressChoiceDialog dialog(addresses, parent);
  dialog.exec();
  return dialog.choice();
}

std::string ChooseServerAddress(const std::vector<std::string>& addresses, QWidget* parent) {
  return AskServerAddress(addresses, parent).address;
}

server::AddressChooser MakeAddressChooser(settings::RegistryStore& store, QWidget* parent) {
  return [&store, guarded = QPointer<QWidget>(parent)](const std::vector<std::string>& addresses) {
    AddressChoice choice = AskServerAddress(addresses, guarded.data());
    if (choice.always) {
      settings::SaveChangeOverDisk(
          store, [&](settings::RegistryStore& changed) { settings::WriteDefaultIp(changed, choice.address); });
    }
    return choice.address;
  };
}

}  // namespace talvek::console
