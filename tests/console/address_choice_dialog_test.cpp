// The address choice of a host with several addresses: what the dialog
// offers, what it returns, and the start-up hook that remembers the choice.
#include <QtTest>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QListWidget>
#include <QPushButton>

#include "console/address_choice_dialog.h"
#include "console/support/dialog_fixture.h"
#include "settings/settings.h"

using namespace talvek;
using namespace talvek::console;

namespace {
const std::vector<std::string> kAddresses = {"", "127.0.0.5", "", "127.0.0.6"};

void PressOk(QDialog* dialog) {
  QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
}
}  // namespace

class AddressChoiceDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void offersTheNonEmptyAddressesWithTheFirstSelected() {
    AddressChoiceDialog dialog(kAddresses, nullptr);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Multi-Homed Host IP Address Selection"));
    auto* list = dialog.findChild<QListWidget*>("addressList");
    QCOMPARE(list->count(), 2);
    QCOMPARE(list->currentItem()->text(), QStringLiteral("127.0.0.5"));
    QVERIFY(!dialog.findChild<QCheckBox*>("alwaysCheck")->isChecked());
    auto* buttons = dialog.findChild<QDialogButtonBox*>();
    QCOMPARE(buttons->buttons().size(), 1);
  }

  void okReturnsTheSelectedAddressAndClosingReturnsNone() {
    auto chosen = test::WhenModal<AddressChoiceDialog>([](AddressChoiceDialog* dialog) {
      dialog->findChild<QListWidget*>("addressList")->setCurrentRow(1);
      PressOk(dialog);
    });
    QCOMPARE(ChooseServerAddress(kAddresses, nullptr), std::string("127.0.0.6"));
    QVERIFY(*chosen);

    test::WhenModal<AddressChoiceDialog>([](AddressChoiceDialog* dialog) { dialog->reject(); });
    AddressChoice closed = AskServerAddress(kAddresses, nullptr);
    QVERIFY(closed.address.empty());
    QVERIFY(!closed.always);
  }

  void theHookRemembersTheChoiceOnlyWhenAskedTo() {
    test::TempDir directory;
    settings::RegistryStore store(directory.path() / "settings.reg");
    server::AddressChooser choose = MakeAddressChooser(store, nullptr);

    test::WhenModal<AddressChoiceDialog>([](AddressChoiceDialog* dialog) { PressOk(dialog); });
    QCOMPARE(choose(kAddresses), std::string("127.0.0.5"));
    QCOMPARE(settings::ReadDefaultIp(store), std::string());

    test::WhenModal<AddressChoiceDialog>([](AddressChoiceDialog* dialog) {
      dialog->findChild<QCheckBox*>("alwaysCheck")->setChecked(true);
      PressOk(dialog);
    });
    QCOMPARE(choose(kAddresses), std::string("127.0.0.5"));
    settings::RegistryStore reread(store.file());
    QVERIFY(reread.load());
    QCOMPARE(settings::ReadDefaultIp(reread), std::string("127.0.0.5"));
  }
};

QTEST_MAIN(AddressChoiceDialogTest)
#include "address_choice_dialog_test.moc"
