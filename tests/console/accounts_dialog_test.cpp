// The accounts dialog and the account dialog against the live account store
// of a real server on loopback: the home directory rule, overwriting a taken
// name, Done applying the edits to the file as it is on disk (or refusing
// when an edited account changed there), Cancel reloading it.
#include <QtTest>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "accounts/account_editing.h"
#include "console/account_dialog.h"
#include "console/accounts_dialog.h"
#include "console/support/dialog_fixture.h"

using namespace talvek;
using namespace talvek::console;
using talvek::test::DialogServer;
using talvek::test::ScriptedPrompts;

namespace {

template <typename T>
T* Find(QWidget* dialog, const char* name) {
  return dialog->findChild<T*>(QLatin1String(name));
}

void Click(QWidget* dialog, const char* name) { QTest::mouseClick(Find<QPushButton>(dialog, name), Qt::LeftButton); }

void ClickOk(QDialog* dialog) {
  QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
}

QStringList Names(QWidget* dialog) {
  QStringList names;
  auto* list = Find<QListWidget>(dialog, "userList");
  for (int row = 0; row < list->count(); ++row) names << list->item(row)->text();
  return names;
}

void Select(QWidget* dialog, int row) { Find<QListWidget>(dialog, "userList")->setCurrentRow(row); }

accounts::AccountRecord Account(const std::string& name, const std::string& home) {
  accounts::AccountRecord record;
  record.name = name;
  record.password = name + "-secret";
  record.homeDir = home;
  record.uploadsDir = home;
  record.permissions = accounts::kRead;
  record.redirectUploads = true;
  return record;
}

// A server whose accounts file holds alice and bob.
struct AccountsFixture {
  DialogServer server{[](settings::Settings& s, const DialogServer& self) {
    s.logonFile = (self.programDirectory().path() / "accounts.lgn").string();
    s.uploadsDir = self.root().dir() + "incoming/";
  }};
  ScriptedPrompts prompts;
  std::string root = server.root().dir();
  std::filesystem::path file = server.programDirectory().path() / "accounts.lgn";

  AccountsFixture() {
    write({Account("alice", root + "alice/"), Account("bob", root + "bob/")});
    server.server().accounts().load(file, server.server().keyText());
  }
  // What the command line does meanwhile: its own edit of the file.
  void write(const std::vector<accounts::AccountRecord>& records) {
    accounts::WriteAccountsFile(file, records, server.server().keyText());
  }
  std::vector<std::string> onDisk() {
    std::vector<std::string> names;
    for (const auto& record : accounts::ReadAccountsFile(file, server.server().keyText()).records)
      names.push_back(record.name + ":" + record.password);
    return names;
  }
};

}  // namespace

class AccountsDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void homeOutsideTheRootKeepsTheAccountDialogOpen() {
    AccountsFixture f;
    auto accepted = [&](const std::string& home) {
      AccountDialog dialog("Add User", Account("carol", home), f.root, f.prompts, nullptr);
      ClickOk(&dialog);
      return dialog.result() == QDialog::Accepted;
    };
    QVERIFY(!accepted("/elsewhere/"));
    QVERIFY(f.prompts.saw(accounts::kHomeOutsideRootText));
    QVERIFY(!accepted(f.root + "../outside/"));  // starts with the root but climbs out
    QVERIFY(!accepted(f.root.substr(0, f.root.size() - 1) + "-other/"));
    QVERIFY(accepted(f.root.substr(0, f.root.size() - 1)));  // as a folder picker returns the root
  }

  void addedAccountLogsInAtOnceAndDoneSavesItOverTheFileAsItIsNow() {
    AccountsFixture f;
    AccountsDialog dialog(f.server.server(), f.prompts, nullptr);
    QString home, uploads;
    auto ran = talvek::test::WhenModal<AccountDialog>([&](AccountDialog* add) {
      home = Find<QLineEdit>(add, "homeEdit")->text();
      uploads = Find<QLineEdit>(add, "uploadsEdit")->text();
      Find<QLineEdit>(add, "userNameEdit")->setText("carol");
      Find<QLineEdit>(add, "passwordEdit")->setText("pw");
      Find<QCheckBox>(add, "readCheck")->setChecked(true);
      ClickOk(add);
    });
    Click(&dialog, "addUserButton");
    QVERIFY(*ran);
    QCOMPARE(home, QString::fromStdString(f.root));
    QCOMPARE(uploads, QString::fromStdString(f.root + "incoming/"));
    QCOMPARE(Names(&dialog), (QStringList{"alice", "bob", "carol"}));
    QVERIFY(f.server.login("carol", "pw"));  // the live store serves it before any save
    Select(&dialog, 0);
    Click(&dialog, "removeUserButton");
    // Meanwhile the command line changed bob's password and added dave.
    f.write({Account("alice", f.root + "alice/"), Account("bob", f.root + "bob/"), Account("dave", f.root)});
    accounts::AccountRecord changed = Account("bob", f.root + "bob/");
    changed.password = "new";
    auto records = accounts::ReadAccountsFile(f.file, f.server.server().keyText()).records;
    records[1] = changed;
    f.write(records);
    Click(&dialog, "doneButton");
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(f.onDisk(), (std::vector<std::string>{"bob:new", "dave:dave-secret", "carol:pw"}));
    QVERIFY(f.server.login("dave", "dave-secret"));  // the saved list is the one in force
  }

  void accountChangedOnDiskAndHereIsRefusedAndTheListReread() {
    AccountsFixture f;
    AccountsDialog dialog(f.server.server(), f.prompts, nullptr);
    dialog.show();
    Select(&dialog, 0);
    Click(&dialog, "removeUserButton");
    f.write({Account("alice", f.root + "moved/"), Account("bob", f.root + "bob/")});
    Click(&dialog, "doneButton");
    QVERIFY(dialog.isVisible());
    QCOMPARE(f.prompts.messages.back().text,
             QStringLiteral("The account alice was changed in the accounts file while this dialog was open. Nothing "
                            "was saved; the list now shows the file as it is. Make your changes again."));
    QCOMPARE(Names(&dialog), (QStringList{"alice", "bob"}));
    QCOMPARE(f.server.server().accounts().find("alice")->homeDir, f.root + "moved/");
    Select(&dialog, 0);
    Click(&dialog, "removeUserButton");
    Click(&dialog, "doneButton");
    QCOMPARE(f.onDisk(), std::vector<std::string>{"bob:bob-secret"});
  }

  void addingATakenNameOverwritesOnlyNamePasswordAndPermissions() {
    AccountsFixture f;
    AccountsDialog dialog(f.server.server(), f.prompts, nullptr);
    for (bool overwrite : {false, true}) {
      f.prompts.answers = {overwrite};
      talvek::test::WhenModal<AccountDialog>([&](AccountDialog* add) {
        Find<QLineEdit>(add, "userNameEdit")->setText("alice");
        Find<QLineEdit>(add, "passwordEdit")->setText("changed");
        Find<QCheckBox>(add, "writeCheck")->setChecked(true);
        Find<QLineEdit>(add, "homeEdit")->setText(QString::fromStdString(f.root + "other/"));
        ClickOk(add);
      });
      Click(&dialog, "addUserButton");
      QCOMPARE(f.prompts.questions.back(),
               QStringLiteral("User name alice already exists. Overwrite existing account information?"));
      QCOMPARE(dialog.modified(), overwrite);
    }
    auto alice = f.server.server().accounts().find("alice");
    QCOMPARE(alice->password, std::string("changed"));
    QCOMPARE(int(alice->permissions), accounts::kWrite);
    QCOMPARE(alice->homeDir, f.root + "alice/");
    QCOMPARE(Names(&dialog), (QStringList{"alice", "bob"}));
  }

  void modifyReplacesEveryFieldButRefusesAnotherAccountsName() {
    AccountsFixture f;
    AccountsDialog dialog(f.server.server(), f.prompts, nullptr);
    Select(&dialog, 1);
    auto ran = talvek::test::WhenModal<AccountDialog>([&](AccountDialog* modify) {
      QCOMPARE(Find<QLineEdit>(modify, "userNameEdit")->text(), QStringLiteral("bob"));
      Find<QLineEdit>(modify, "userNameEdit")->setText("alice");
      ClickOk(modify);
      QVERIFY(modify->isVisible());
      Find<QLineEdit>(modify, "userNameEdit")->setText("robert");
      Find<QCheckBox>(modify, "readCheck")->setChecked(false);
      Find<QCheckBox>(modify, "deleteCheck")->setChecked(true);
      ClickOk(modify);
    });
    Click(&dialog, "modifyButton");
    QVERIFY(*ran);
    QCOMPARE(Names(&dialog), (QStringList{"alice", "robert"}));
    QCOMPARE(int(f.server.server().accounts().find("robert")->permissions), accounts::kDelete);
  }

  void cancelRereadsAndDoneWithoutChangesWritesNothing() {
    AccountsFixture f;
    AccountsDialog dialog(f.server.server(), f.prompts, nullptr);
    Select(&dialog, 0);
    Click(&dialog, "removeUserButton");
    QVERIFY(!f.server.server().accounts().exists("alice"));
    Click(&dialog, "cancelButton");
    QCOMPARE(f.server.server().accounts().size(), size_t{2});
    std::filesystem::remove(f.file);
    AccountsDialog unchanged(f.server.server(), f.prompts, nullptr);
    Click(&unchanged, "doneButton");
    QVERIFY(!std::filesystem::exists(f.file));
  }

  void aFailedSaveIsReportedAndTheDialogStays() {
    AccountsFixture f;
    f.server.programDirectory().write("blocker", "");  // a plain file where a directory should be
    std::string unwritable = (f.server.programDirectory().path() / "blocker" / "accounts.lgn").string();
    f.server.server().updateSettings([&](settings::Settings& s) { s.logonFile = unwritable; });
    AccountsDialog dialog(f.server.server(), f.prompts, nullptr);
    dialog.show();
    Select(&dialog, 0);
    Click(&dialog, "removeUserButton");
    Click(&dialog, "doneButton");
    QVERIFY(dialog.isVisible());
    QCOMPARE(f.prompts.messages.back().text,
             QString::fromStdString("Cannot write the accounts file " + unwritable + ": Not a directory"));
  }
};

QTEST_MAIN(AccountsDialogTest)
#include "accounts_dialog_test.moc"
