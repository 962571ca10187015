// The accounts dialog and the account dialog against the live account store
// of a real server on loopback: the home directory rule, overwriting a taken
// name, Done writing the file only after changes, Cancel reloading it.
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
    auto& store = server.server().accounts();
    store.setFilePath(file);
    store.append(Account("alice", root + "alice/"));
    store.append(Account("bob", root + "bob/"));
    store.save(server.server().keyText());
  }
  std::vector<accounts::AccountRecord> onDisk() {
    accounts::AccountStore reread;
    reread.load(file, server.server().keyText());
    return reread.records();
  }
};

}  // namespace

class AccountsDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void listFollowsTheStoreAndButtonsTheSelection() {
    AccountsFixture f;
    AccountsDialog dialog(f.server.server(), f.prompts, nullptr);
    QCOMPARE(Names(&dialog), (QStringList{"alice", "bob"}));
    QVERIFY(!Find<QPushButton>(&dialog, "removeUserButton")->isEnabled());
    QVERIFY(!Find<QPushButton>(&dialog, "modifyButton")->isEnabled());
    Select(&dialog, 1);
    QVERIFY(Find<QPushButton>(&dialog, "removeUserButton")->isEnabled());
    QVERIFY(Find<QPushButton>(&dialog, "modifyButton")->isEnabled());
  }

  void homeOutsideTheRootKeepsTheDialogOpen() {
    AccountsFixture f;
    auto check = [&](const std::string& home) {
      f.prompts.clear();
      AccountDialog dialog("Add User", Account("carol", home), f.root, f.prompts, nullptr);
      ClickOk(&dialog);
      return dialog.result() == QDialog::Accepted;
    };
    QVERIFY(!check("/elsewhere/"));
    QVERIFY(f.prompts.saw(accounts::kHomeOutsideRootText));
    // A text that starts with the root but climbs out of it.
    QVERIFY(!check(f.root + "../outside/"));
    QVERIFY(f.prompts.saw(accounts::kHomeOutsideRootText));
    // A sibling whose name only starts like the root.
    QVERIFY(!check(f.root.substr(0, f.root.size() - 1) + "-other/"));
    // The root itself, as a folder picker returns it (no trailing slash).
    QVERIFY(check(f.root.substr(0, f.root.size() - 1)));
    QVERIFY(check(f.root + "alice/sub"));
  }

  void addUserOpensOnTheDefaultsAndAppends() {
    AccountsFixture f;
    AccountsDialog dialog(f.server.server(), f.prompts, nullptr);
    QString home, uploads;
    auto ran = talvek::test::WhenModal<AccountDialog>([&](AccountDialog* add) {
      home = Find<QLineEdit>(add, "homeEdit")->text();
      uploads = Find<QLineEdit>(add, "uploadsEdit")->text();
      QVERIFY(!Find<QCheckBox>(add, "readCheck")->isChecked());
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
    QVERIFY(dialog.modified());
    // The live store serves the next login at once, before anything is saved.
    auto client = f.server.login("carol", "pw");
    QVERIFY(client);
    QCOMPARE(f.onDisk().size(), size_t{2});
  }

  void addingATakenNameOverwritesOnlyNamePasswordAndPermissions() {
    AccountsFixture f;
    AccountsDialog dialog(f.server.server(), f.prompts, nullptr);
    auto fill = [&](AccountDialog* add) {
      Find<QLineEdit>(add, "userNameEdit")->setText("alice");
      Find<QLineEdit>(add, "passwordEdit")->setText("changed");
      Find<QCheckBox>(add, "writeCheck")->setChecked(true);
      Find<QLineEdit>(add, "homeEdit")->setText(QString::fromStdString(f.root + "other/"));
      Find<QCheckBox>(add, "redirectCheck")->setChecked(false);
      ClickOk(add);
    };
    f.prompts.answers = {false};
    talvek::test::WhenModal<AccountDialog>(fill);
    Click(&dialog, "addUserButton");
    QCOMPARE(f.prompts.questions.size(), size_t{1});
    QCOMPARE(f.prompts.questions.front(),
             QStringLiteral("User name alice already exists. Overwrite existing account information?"));
    QCOMPARE(f.server.server().accounts().find("alice")->password, std::string("alice-secret"));
    QVERIFY(!dialog.modified());

    f.prompts.answers = {true};
    talvek::test::WhenModal<AccountDialog>(fill);
    Click(&dialog, "addUserButton");
    auto alice = f.server.server().accounts().find("alice");
    QCOMPARE(alice->password, std::string("changed"));
    QCOMPARE(int(alice->permissions), accounts::kWrite);
    QCOMPARE(alice->homeDir, f.root + "alice/");
    QVERIFY(alice->redirectUploads);
    QCOMPARE(Names(&dialog), (QStringList{"alice", "bob"}));
    QVERIFY(dialog.modified());
  }

  void modifyReplacesEveryFieldButRefusesAnotherAccountsName() {
    AccountsFixture f;
    AccountsDialog dialog(f.server.server(), f.prompts, nullptr);
    Select(&dialog, 1);
    auto ran = talvek::test::WhenModal<AccountDialog>([&](AccountDialog* modify) {
      QCOMPARE(modify->windowTitle(), QStringLiteral("Modify User"));
      QCOMPARE(Find<QLineEdit>(modify, "userNameEdit")->text(), QStringLiteral("bob"));
      Find<QLineEdit>(modify, "userNameEdit")->setText("alice");
      ClickOk(modify);
      QVERIFY(modify->isVisible());
      QVERIFY(f.prompts.saw("User name alice already exists."));
      Find<QLineEdit>(modify, "userNameEdit")->setText("robert");
      Find<QCheckBox>(modify, "readCheck")->setChecked(false);
      Find<QCheckBox>(modify, "deleteCheck")->setChecked(true);
      Find<QCheckBox>(modify, "customMessageCheck")->setChecked(true);
      ClickOk(modify);
    });
    Click(&dialog, "modifyButton");
    QVERIFY(*ran);
    QCOMPARE(Names(&dialog), (QStringList{"alice", "robert"}));
    auto robert = f.server.server().accounts().find("robert");
    QVERIFY(robert.has_value());
    QCOMPARE(int(robert->permissions), accounts::kDelete);
    QVERIFY(robert->customLogonMessage);
    QCOMPARE(robert->homeDir, f.root + "bob/");
  }

  void removeThenCancelBringsTheAccountBack() {
    AccountsFixture f;
    AccountsDialog dialog(f.server.server(), f.prompts, nullptr);
    Select(&dialog, 0);
    Click(&dialog, "removeUserButton");
    QCOMPARE(Names(&dialog), QStringList{"bob"});
    QVERIFY(!f.server.server().accounts().exists("alice"));
    Click(&dialog, "cancelButton");
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QVERIFY(f.server.server().accounts().exists("alice"));
    QCOMPARE(f.server.server().accounts().size(), size_t{2});
  }

  void escapeIsCancelToo() {
    AccountsFixture f;
    AccountsDialog dialog(f.server.server(), f.prompts, nullptr);
    dialog.show();
    Select(&dialog, 0);
    Click(&dialog, "removeUserButton");
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(f.server.server().accounts().size(), size_t{2});
  }

  void removeThenDoneWritesTheFileWithoutIt() {
    AccountsFixture f;
    AccountsDialog dialog(f.server.server(), f.prompts, nullptr);
    Select(&dialog, 0);
    Click(&dialog, "removeUserButton");
    Click(&dialog, "doneButton");
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    auto on_disk = f.onDisk();
    QCOMPARE(on_disk.size(), size_t{1});
    QCOMPARE(on_disk.front().name, std::string("bob"));
  }

  void doneWithoutChangesWritesNothing() {
    AccountsFixture f;
    std::filesystem::remove(f.file);
    AccountsDialog dialog(f.server.server(), f.prompts, nullptr);
    Click(&dialog, "doneButton");
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(!std::filesystem::exists(f.file));
  }

  void aFailedSaveIsReportedAndTheDialogStays() {
    AccountsFixture f;
    // A plain file where the directory should be: the write cannot succeed.
    f.server.programDirectory().write("blocker", "");
    std::string unwritable = (f.server.programDirectory().path() / "blocker" / "accounts.lgn").string();
    f.server.server().updateSettings([&](settings::Settings& s) { s.logonFile = unwritable; });
    AccountsDialog dialog(f.server.server(), f.prompts, nullptr);
    dialog.show();
    Select(&dialog, 0);
    Click(&dialog, "removeUserButton");
    Click(&dialog, "doneButton");
    QVERIFY(dialog.isVisible());
    QVERIFY(!f.prompts.messages.empty());
    QVERIFY(f.prompts.messages.back().text.startsWith("Cannot write the accounts file"));
  }
};

QTEST_MAIN(AccountsDialogTest)
#include "accounts_dialog_test.moc"
