// The console's dialogs against a real server on loopback: the accounts and
// account dialogs, the IP filter editor and the configuration sheet. Their
// rules and refusals, the running server following at once, and the editors
// applying their edits to the file as it is on disk (the command line may
// have changed it meanwhile).
#include <asio/post.hpp>

#include <future>

#include <QtTest>

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>

#include "accounts/account_editing.h"
#include "console/account_dialog.h"
#include "console/accounts_dialog.h"
#include "console/configure_dialog.h"
#include "console/filter_editor.h"
#include "console/support/dialog_fixture.h"
#include "filter/filter_file.h"
#include "settings/settings.h"

using namespace talvek;
using namespace talvek::console;
using namespace talvek::test;

namespace {

QStringList Names(QWidget* dialog) { return Texts(dialog, "userList"); }

void Remove(QWidget* dialog, int row) {
  Find<QListWidget>(dialog, "userList")->setCurrentRow(row);
  Click(dialog, "removeUserButton");
}

accounts::AccountRecord Account(const std::string& name, const std::string& home, const std::string& password = "") {
  accounts::AccountRecord record;
  record.name = name;
  record.password = password.empty() ? name + "-secret" : password;
  record.homeDir = record.uploadsDir = home;
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
  ScriptedPrompts& prompts = server.prompts;
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

QStringList Entries(QWidget* editor) { return Texts(editor, "entryList"); }

void Add(QWidget* editor, const QString& text) {
  Find<QLineEdit>(editor, "entryEdit")->setText(text);
  Click(editor, "addButton");
}

using Values = std::vector<std::pair<const char*, QVariant>>;

// Opens the sheet, lets `edit` change it (or sets `values`), presses OK and,
// when the sheet accepted, runs the rest of the flow. Returns whether it was
// accepted.
bool ConfigureWith(DialogServer& fixture, const Values& values, const std::function<void(ConfigureDialog&)>& edit = {}) {
  ConfigureFlow flow(fixture.server(), fixture.store(), fixture.prompts);
  std::unique_ptr<ConfigureDialog> dialog = flow.makeDialog(nullptr);
  Set(dialog.get(), values);
  if (edit) edit(*dialog);
  Press(dialog.get());
  if (dialog->result() != QDialog::Accepted) return false;
  flow.applyAccepted(*dialog);
  return true;
}

}  // namespace

class DialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void homeOutsideTheRootKeepsTheAccountDialogOpen() {
    AccountsFixture f;
    auto accepted = [&](const std::string& home) {
      AccountDialog dialog("Add User", Account("carol", home), f.root, f.prompts, nullptr);
      Press(&dialog);
      return dialog.result() == QDialog::Accepted;
    };
    QVERIFY(!accepted("/elsewhere/"));
    QVERIFY(f.prompts.messages.contains(accounts::kHomeOutsideRootText));
    QVERIFY(!accepted(f.root + "../outside/"));  // starts with the root but climbs out
    QVERIFY(!accepted(f.root.substr(0, f.root.size() - 1) + "-other/"));
    QVERIFY(accepted(f.root.substr(0, f.root.size() - 1)));  // as a folder picker returns the root
  }

  void addedAccountLogsInAtOnceAndDoneSavesItOverTheFileAsItIsNow() {
    AccountsFixture f;
    AccountsDialog dialog(f.server.server(), f.prompts, nullptr);
    auto ran = WhenModal<AccountDialog>([&](AccountDialog* add) {
      QCOMPARE(Find<QLineEdit>(add, "homeEdit")->text(), QString::fromStdString(f.root));
      QCOMPARE(Find<QLineEdit>(add, "uploadsEdit")->text(), QString::fromStdString(f.root + "incoming/"));
      Set(add, {{"userNameEdit", "carol"}, {"passwordEdit", "pw"}, {"readCheck", true}});
      Press(add);
    });
    Click(&dialog, "addUserButton");
    QVERIFY(*ran);
    QCOMPARE(Names(&dialog), (QStringList{"alice", "bob", "carol"}));
    QVERIFY(f.server.login("carol", "pw"));  // the live store serves it before any save
    Remove(&dialog, 0);
    // Meanwhile the command line changed bob's password and added dave.
    f.write({Account("alice", f.root + "alice/"), Account("bob", f.root + "bob/", "new"), Account("dave", f.root)});
    Click(&dialog, "doneButton");
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(f.onDisk(), (std::vector<std::string>{"bob:new", "dave:dave-secret", "carol:pw"}));
    QVERIFY(f.server.login("dave", "dave-secret"));  // the saved list is the one in force
  }

  void accountChangedOnDiskAndHereIsRefusedAndTheListReread() {
    AccountsFixture f;
    AccountsDialog dialog(f.server.server(), f.prompts, nullptr);
    dialog.show();
    Remove(&dialog, 0);
    f.write({Account("alice", f.root + "moved/"), Account("bob", f.root + "bob/")});
    Click(&dialog, "doneButton");
    QVERIFY(dialog.isVisible());
    QCOMPARE(f.prompts.messages.back(),
             QStringLiteral("The account alice was changed in the accounts file while this dialog was open. Nothing "
                            "was saved; the list now shows the file as it is. Make your changes again."));
    QCOMPARE(Names(&dialog), (QStringList{"alice", "bob"}));
    QCOMPARE(f.server.server().accounts().find("alice")->homeDir, f.root + "moved/");
    Remove(&dialog, 0);
    Click(&dialog, "doneButton");
    QCOMPARE(f.onDisk(), std::vector<std::string>{"bob:bob-secret"});
  }

  void addingATakenNameOverwritesOnlyNamePasswordAndPermissions() {
    AccountsFixture f;
    AccountsDialog dialog(f.server.server(), f.prompts, nullptr);
    for (bool overwrite : {false, true}) {
      f.prompts.answers = {overwrite};
      WhenModal<AccountDialog>([&](AccountDialog* add) {
        Set(add, {{"userNameEdit", "alice"}, {"passwordEdit", "changed"}, {"writeCheck", true},
                  {"homeEdit", QString::fromStdString(f.root + "other/")}});
        Press(add);
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
    Find<QListWidget>(&dialog, "userList")->setCurrentRow(1);
    auto ran = WhenModal<AccountDialog>([&](AccountDialog* modify) {
      QCOMPARE(Find<QLineEdit>(modify, "userNameEdit")->text(), QStringLiteral("bob"));
      Set(modify, {{"userNameEdit", "alice"}});
      Press(modify);
      QVERIFY(modify->isVisible());
      Set(modify, {{"userNameEdit", "robert"}, {"readCheck", false}, {"deleteCheck", true}});
      Press(modify);
    });
    Click(&dialog, "modifyButton");
    QVERIFY(*ran);
    QCOMPARE(Names(&dialog), (QStringList{"alice", "robert"}));
    QCOMPARE(int(f.server.server().accounts().find("robert")->permissions), accounts::kDelete);
  }

  void cancelRereadsUnchangedWritesNothingAndAFailedSaveKeepsTheDialog() {
    AccountsFixture f;
    {
      AccountsDialog dialog(f.server.server(), f.prompts, nullptr);
      Remove(&dialog, 0);
      QVERIFY(!f.server.server().accounts().exists("alice"));
      Click(&dialog, "cancelButton");
      QCOMPARE(f.server.server().accounts().size(), size_t{2});
    }
    std::filesystem::remove(f.file);
    AccountsDialog unchanged(f.server.server(), f.prompts, nullptr);
    Click(&unchanged, "doneButton");
    QVERIFY(!std::filesystem::exists(f.file));

    f.server.programDirectory().write("blocker", "");  // a plain file where a directory should be
    std::string unwritable = (f.server.programDirectory().path() / "blocker" / "accounts.lgn").string();
    f.server.server().updateSettings([&](settings::Settings& s) { s.logonFile = unwritable; });
    AccountsDialog dialog(f.server.server(), f.prompts, nullptr);
    dialog.show();
    Remove(&dialog, 0);
    Click(&dialog, "doneButton");
    QVERIFY(dialog.isVisible());
    QCOMPARE(f.prompts.messages.back(), QString::fromStdString("Cannot write the accounts file " + unwritable +
                                                                ": Not a directory"));
  }

  // It shows the flag, the mode and the wildcard form; Cancel changes
  // nothing; OK applies the edits to the file as it is now.
  void filterEditorEditsAndAppliesToTheFileAsItIsNow() {
    DialogServer fixture([](settings::Settings& s, const DialogServer&) { s.general.filterEnabled = 1; });
    fixture.server().filterList().replace({"192.168.[0-9]+", "10.0.0.1"});
    {
      FilterEditor editor(fixture.server(), fixture.prompts, nullptr);
      QVERIFY(Find<QCheckBox>(&editor, "enableFilterCheck")->isChecked());
      QVERIFY(Find<QRadioButton>(&editor, "allowOnlyRadio")->isChecked());
      for (const char* text : {"host.example", "HOST.Example", "   ", ""}) Add(&editor, text);  // one of each, no blanks
      QCOMPARE(Entries(&editor), (QStringList{"192.168.*", "10.0.0.1", "host.example"}));
      QVERIFY(!Find(&editor, "removeButton")->isEnabled());
      Find<QListWidget>(&editor, "entryList")->setCurrentRow(1);
      QCOMPARE(Find<QLineEdit>(&editor, "entryEdit")->text(), QStringLiteral("10.0.0.1"));
      Click(&editor, "removeButton");
      QCOMPARE(Entries(&editor), (QStringList{"192.168.*", "host.example"}));
      Press(&editor, QDialogButtonBox::Cancel);
    }
    QCOMPARE(fixture.server().filterList().entries(), (filter::FilterEntries{"192.168.[0-9]+", "10.0.0.1"}));
    QVERIFY(!std::filesystem::exists(fixture.server().filtersFile()));

    FilterEditor editor(fixture.server(), fixture.prompts, nullptr);
    Set(&editor, {{"enableFilterCheck", false}, {"blockRadio", true}});
    Add(&editor, "127.0.*");
    Find<QListWidget>(&editor, "entryList")->setCurrentRow(0);
    Click(&editor, "removeButton");
    // Meanwhile the command line removed 10.0.0.1 and added 3.3.3.3.
    WriteFile(fixture.server().filtersFile(), "192.168.[0-9]+\r\n3.3.3.3\r\n");
    Press(&editor);
    QCOMPARE(ReadFile(fixture.server().filtersFile()), std::string("3.3.3.3\r\n127.0.[0-9]+\r\n"));
    QCOMPARE(fixture.server().filterList().entries(), (filter::FilterEntries{"3.3.3.3", "127.0.[0-9]+"}));
    QCOMPARE(fixture.server().settings().general.filterEnabled, 0u);
    QCOMPARE(fixture.server().settings().general.blockListed, 1u);
    QVERIFY(fixture.prompts.messages.empty());
  }

  void filterOkClosesConnectedClientsTheFilterNowRefuses() {
    DialogServer fixture;
    auto kept = fixture.connect("127.0.0.1");
    auto banned = fixture.connect("127.0.0.2");
    QVERIFY(kept && banned && fixture.waitForRegistered(2));
    FilterEditor editor(fixture.server(), fixture.prompts, nullptr);
    Set(&editor, {{"enableFilterCheck", true}, {"blockRadio", true}});
    Add(&editor, "127.0.0.2");
    Press(&editor);
    QVERIFY(banned->waitClosed() && fixture.waitForRegistered(1) && kept->ask("NOOP"));
  }

  void anUnreadableFilterFileIsNeverOverwrittenAndTheEditStillHolds() {
    DialogServer fixture;
    std::filesystem::create_directory(fixture.server().filtersFile());  // reading it fails
    FilterEditor editor(fixture.server(), fixture.prompts, nullptr);
    Add(&editor, "9.9.9.9");
    Press(&editor);
    QCOMPARE(fixture.prompts.messages,
             QStringList(QString::fromStdString("Cannot read " + fixture.server().filtersFile().string() +
                                                ": Is a directory")));
    QVERIFY(std::filesystem::is_directory(fixture.server().filtersFile()));
    QCOMPARE(fixture.server().filterList().entries(), filter::FilterEntries{"9.9.9.9"});
  }

  void configuredValuesReachServerAndDisk() {
    DialogServer fixture;
    std::string root = fixture.root().path().string();
    QVERIFY(ConfigureWith(fixture, {{"timeoutCheck", true}, {"timeoutSpin", 0}, {"maxTotalSpin", 0},
                                    {"perUserSpin", 0}, {"dirCacheSizeEdit", "10"},
                                    {"fileCacheSizeEdit", "4294967295"}, {"ftpRootEdit", QString::fromStdString(root)},
                                    {"uploadsEdit", QString::fromStdString(root + "/up")}, {"portEdit", "2121"},
                                    {"alwaysPortCheck", false}}));
    settings::Settings current = fixture.server().settings();
    // Zeros stand for the defaults; paths end with a separator; the port
    // counts only with "Always use this port".
    const auto& general = current.general;
    QCOMPARE(std::vector<uint32_t>({general.timeoutMinutes, general.maxConnections, general.connectionsPerAddress,
                                    current.net.port}),
             std::vector<uint32_t>({60, 1000, 3, 21}));
    QCOMPARE(current.ftpRootDir + " " + current.uploadsDir, root + "/ " + root + "/up/");
    QCOMPARE(fixture.server().directoryCache().limit(), uint64_t{10} * 1024);
    QCOMPARE(fixture.server().fileCache().limit(), uint64_t{4294967295} * 1024);
    settings::RegistryStore reread(fixture.store().file());
    QVERIFY(reread.load());
    settings::Settings stored;
    settings::LoadSettings(reread, stored);
    QCOMPARE(stored.general, current.general);
    QCOMPARE(stored.ftpRootDir, root + "/");

    QVERIFY(ConfigureWith(fixture, {{"maxTotalSpin", 7}, {"limitPerUserCheck", true}, {"perUserSpin", 1},
                                    {"closeOldestRadio", true}, {"filteringCheck", true}, {"allowListedRadio", true}}));
    auto changed = fixture.server().settings().general;
    QCOMPARE(std::vector<uint32_t>({changed.maxConnections, changed.connectionsPerAddress, changed.limitPerAddress,
                                    changed.refuseNew, changed.filterEnabled, changed.blockListed}),
             std::vector<uint32_t>({7, 1, 1, 0, 1, 0}));
  }

  void configuredValuesOutOfRangeKeepTheSheetOpen() {
    for (const auto& [field, value, message] : std::vector<std::tuple<const char*, QString, QString>>{
             {"overflowEdit", "150", "Please enter an integer between 0 and 100."},
             {"portEdit", "65536", "Please enter an integer between 1 and 65535."},
             {"portEdit", "none", ""}}) {
      DialogServer fixture;
      auto before = fixture.server().settings().cache;
      QVERIFY(!ConfigureWith(fixture, {{field, value}, {"dirCacheSizeEdit", "1"}}));
      QVERIFY(message.isEmpty() || fixture.prompts.messages.contains(message));
      QCOMPARE(fixture.server().settings().cache, before);
    }
  }

  // The flow hands its work to the control thread without waiting; when
  // that thread is busy the work runs after the flow is gone.
  void switchingAnonymousOffDisconnectsAnonymousUsers() {
    DialogServer fixture([](settings::Settings& s, const DialogServer&) {
      s.anonymous.allow = 1;
      s.anonymous.rights = 0xff;
    });
    auto anonymous = fixture.login("Anonymous", "guest@");
    auto other = fixture.connect();
    QVERIFY(anonymous && other && fixture.waitForRegistered(2));
    QVERIFY(ConfigureWith(fixture, {{"allowAnonymousCheck", true}, {"anonymousWriteCheck", false}}));
    QCOMPARE(int(fixture.server().settings().anonymous.rights), 1 | 4);  // rebuilt from the boxes
    std::promise<void> release;
    asio::post(fixture.server().context(), [held = release.get_future().share()] { held.wait_for(std::chrono::seconds(20)); });
    QVERIFY(ConfigureWith(fixture, {{"allowAnonymousCheck", false}, {"timeoutCheck", true}}));
    release.set_value();
    QVERIFY(anonymous->waitClosed() && fixture.waitForRegistered(1) && other->ask("NOOP"));
  }

  void anotherDefaultAddressNeedsARestart() {
    DialogServer fixture;
    std::string in_use = fixture.server().serverAddress();
    QVERIFY(ConfigureWith(fixture, {}, [](ConfigureDialog& dialog) {
      auto* list = Find<QListWidget>(&dialog, "addressList");
      list->addItem("127.0.0.2");
      list->setCurrentRow(list->count() - 1);
      Set(&dialog, {{"useDefaultRadio", true}});
    }));
    QCOMPARE(fixture.prompts.messages, QStringList("You must exit and restart Talvek FTP before changes to the "
                                                   "default IP address will take effect."));
    QCOMPARE(fixture.server().serverAddress(), in_use);
    QCOMPARE(settings::ReadDefaultIp(fixture.store()), std::string("127.0.0.2"));
  }

  void logFileOpensClosesAndReportsFailure() {
    DialogServer fixture;
    QString log_path = QString::fromStdString((fixture.programDirectory().path() / "ftp.log").string());
    QVERIFY(ConfigureWith(fixture, {{"recordLogCheck", true}, {"logPathEdit", log_path}}));
    QVERIFY(fixture.server().logThread().isOpen());
    QVERIFY(ConfigureWith(fixture, {{"recordLogCheck", false}}));
    QVERIFY(!fixture.server().logThread().isOpen());
    QVERIFY(ConfigureWith(fixture, {{"recordLogCheck", true}, {"logPathEdit", log_path + "/no/ftp.log"}}));
    QVERIFY(!fixture.prompts.messages.empty() && fixture.prompts.messages.back().startsWith("Cannot open the log file"));
  }

  void screenshotsOfEveryConfigurationPage() {
    QByteArray docs = qgetenv("TALVEK_DOCS_DIR");
    if (docs.isEmpty()) QSKIP("TALVEK_DOCS_DIR is not set");
    DialogServer fixture;
    fixture.server().updateSettings([](settings::Settings& s) {
      s.ftpRootDir = "/srv/ftp/";
      s.uploadsDir = "/srv/ftp/incoming/";
      s.logonFile = "/home/operator/.talvek/accounts.lgn";
      s.logPath = "/home/operator/.talvek/ftp.log";
      s.cache = settings::CacheSettings::Defaults();
      s.general.timeoutIdle = 1;
      s.general.timeoutMinutes = 60;
      s.general.maxConnections = 1000;
      s.general.connectionsPerAddress = 3;
      s.net.port = 21;
    });
    auto dialog = ConfigureFlow(fixture.server(), fixture.store(), fixture.prompts).makeDialog(nullptr);
    dialog->resize(520, 520);
    dialog->show();
    const char* names[] = {"paths", "anonymous", "general", "cache", "advanced"};
    for (int i = 0; i < 5; ++i) {
      dialog->pages()->setCurrentIndex(i);
      QCoreApplication::processEvents();
      QString file = QString::fromLocal8Bit(docs) + "/console-config-" + names[i] + ".png";
      QVERIFY2(dialog->grab().save(file), qPrintable(file));
    }
  }
};

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
