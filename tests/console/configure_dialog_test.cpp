// The configuration sheet against a real server on loopback: the value
// rules of the pages, refused values, and what the configure flow does to
// the running server and the settings store after OK.
#include <asio/post.hpp>

#include <future>

#include <QtTest>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

#include "console/configure_dialog.h"
#include "console/support/dialog_fixture.h"
#include "settings/settings.h"

using namespace talvek;
using namespace talvek::console;
using talvek::test::DialogServer;
using talvek::test::ScriptedPrompts;

namespace {

using Edit = std::function<void(ConfigureDialog&)>;

template <typename T>
T* Find(QWidget* dialog, const char* name) {
  return dialog->findChild<T*>(QLatin1String(name));
}

void ClickOk(QDialog* dialog) {
  QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
}

// Sets the named line edits, spin boxes, check boxes and radio buttons.
Edit Set(std::vector<std::pair<const char*, QVariant>> values) {
  return [values](ConfigureDialog& dialog) {
    for (const auto& [name, value] : values) {
      if (auto* edit = Find<QLineEdit>(&dialog, name)) edit->setText(value.toString());
      if (auto* spin = Find<QSpinBox>(&dialog, name)) spin->setValue(value.toInt());
      if (auto* box = Find<QCheckBox>(&dialog, name)) box->setChecked(value.toBool());
      if (auto* radio = Find<QRadioButton>(&dialog, name)) radio->setChecked(value.toBool());
    }
  };
}

// Opens the sheet, lets `edit` change it, presses OK and, when the sheet
// accepted, runs the rest of the flow. Returns whether it was accepted.
bool ConfigureWith(DialogServer& fixture, ScriptedPrompts& prompts, const Edit& edit) {
  ConfigureFlow flow(fixture.server(), fixture.store(), prompts);
  std::unique_ptr<ConfigureDialog> dialog = flow.makeDialog(nullptr);
  edit(*dialog);
  ClickOk(dialog.get());
  if (dialog->result() != QDialog::Accepted) return false;
  flow.applyAccepted(*dialog);
  return true;
}

}  // namespace

class ConfigureDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void valuesReachServerAndDisk() {
    DialogServer fixture;
    ScriptedPrompts prompts;
    std::string root = fixture.root().path().string();
    QVERIFY(ConfigureWith(fixture, prompts,
                          Set({{"timeoutCheck", true}, {"timeoutSpin", 0}, {"maxTotalSpin", 0}, {"perUserSpin", 0},
                               {"dirCacheSizeEdit", "10"}, {"fileCacheSizeEdit", "4294967295"},
                               {"ftpRootEdit", QString::fromStdString(root)},
                               {"uploadsEdit", QString::fromStdString(root + "/up")},
                               {"portEdit", "2121"}, {"alwaysPortCheck", false}})));
    settings::Settings current = fixture.server().settings();
    // Zeros stand for the defaults; paths end with a separator; the port
    // counts only with "Always use this port".
    QCOMPARE(current.general.timeoutMinutes, 60u);
    QCOMPARE(current.general.maxConnections, 1000u);
    QCOMPARE(current.general.connectionsPerAddress, 3u);
    QCOMPARE(current.ftpRootDir, root + "/");
    QCOMPARE(current.uploadsDir, root + "/up/");
    QCOMPARE(current.net.port, 21u);
    QCOMPARE(fixture.server().directoryCache().limit(), uint64_t{10} * 1024);
    QCOMPARE(fixture.server().fileCache().limit(), uint64_t{4294967295} * 1024);
    settings::RegistryStore reread(fixture.store().file());
    QVERIFY(reread.load());
    settings::Settings stored;
    settings::LoadSettings(reread, stored);
    QCOMPARE(stored.general, current.general);
    QCOMPARE(stored.ftpRootDir, root + "/");

    QVERIFY(ConfigureWith(fixture, prompts,
                          Set({{"maxTotalSpin", 7}, {"limitPerUserCheck", true}, {"perUserSpin", 1},
                               {"closeOldestRadio", true}, {"filteringCheck", true}, {"allowListedRadio", true}})));
    auto general = fixture.server().settings().general;
    QCOMPARE(std::vector<uint32_t>({general.maxConnections, general.connectionsPerAddress, general.limitPerAddress,
                                    general.refuseNew, general.filterEnabled, general.blockListed}),
             std::vector<uint32_t>({7, 1, 1, 0, 1, 0}));
  }

  void valuesOutOfRangeKeepTheSheetOpen() {
    for (const auto& [field, value, message] : std::vector<std::tuple<const char*, QString, QString>>{
             {"overflowEdit", "150", "Please enter an integer between 0 and 100."},
             {"portEdit", "65536", "Please enter an integer between 1 and 65535."},
             {"portEdit", "none", ""}}) {
      DialogServer fixture;
      ScriptedPrompts prompts;
      auto before = fixture.server().settings().cache;
      QVERIFY(!ConfigureWith(fixture, prompts, Set({{field, value}, {"dirCacheSizeEdit", "1"}})));
      QVERIFY(message.isEmpty() || prompts.saw(message));
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
    ScriptedPrompts prompts;
    auto anonymous = fixture.login("Anonymous", "guest@");
    auto other = fixture.connect();
    QVERIFY(anonymous && other && fixture.waitForRegistered(2));
    QVERIFY(ConfigureWith(fixture, prompts, Set({{"allowAnonymousCheck", true}, {"anonymousWriteCheck", false}})));
    QCOMPARE(int(fixture.server().settings().anonymous.rights), 1 | 4);  // rebuilt from the boxes
    std::promise<void> release;
    asio::post(fixture.server().context(), [held = release.get_future().share()] { held.wait_for(std::chrono::seconds(20)); });
    QVERIFY(ConfigureWith(fixture, prompts, Set({{"allowAnonymousCheck", false}, {"timeoutCheck", true}})));
    release.set_value();
    QVERIFY(anonymous->waitClosed());
    QVERIFY(fixture.waitForRegistered(1));
    QVERIFY(other->ask("NOOP"));
  }

  void anotherDefaultAddressNeedsARestart() {
    DialogServer fixture;
    ScriptedPrompts prompts;
    std::string in_use = fixture.server().serverAddress();
    QVERIFY(ConfigureWith(fixture, prompts, [](ConfigureDialog& dialog) {
      auto* list = Find<QListWidget>(&dialog, "addressList");
      list->addItem("127.0.0.2");
      list->setCurrentRow(list->count() - 1);
      Find<QRadioButton>(&dialog, "useDefaultRadio")->setChecked(true);
    }));
    QCOMPARE(prompts.messages.size(), size_t{1});
    QCOMPARE(prompts.messages.front().text,
             QStringLiteral("You must exit and restart Talvek FTP before changes to the default IP address will "
                            "take effect."));
    QCOMPARE(fixture.server().serverAddress(), in_use);
    QCOMPARE(settings::ReadDefaultIp(fixture.store()), std::string("127.0.0.2"));
  }

  void logFileOpensClosesAndReportsFailure() {
    DialogServer fixture;
    ScriptedPrompts prompts;
    QString log_path = QString::fromStdString((fixture.programDirectory().path() / "ftp.log").string());
    QVERIFY(ConfigureWith(fixture, prompts, Set({{"recordLogCheck", true}, {"logPathEdit", log_path}})));
    QVERIFY(fixture.server().logThread().isOpen());
    QVERIFY(ConfigureWith(fixture, prompts, Set({{"recordLogCheck", false}})));
    QVERIFY(!fixture.server().logThread().isOpen());
    QVERIFY(ConfigureWith(fixture, prompts, Set({{"recordLogCheck", true}, {"logPathEdit", log_path + "/no/ftp.log"}})));
    QVERIFY(!prompts.messages.empty() && prompts.messages.back().text.startsWith("Cannot open the log file"));
  }

  void screenshotsOfEveryPage() {
    QByteArray docs = qgetenv("TALVEK_DOCS_DIR");
    if (docs.isEmpty()) QSKIP("TALVEK_DOCS_DIR is not set");
    DialogServer fixture;
    ScriptedPrompts prompts;
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
    auto dialog = ConfigureFlow(fixture.server(), fixture.store(), prompts).makeDialog(nullptr);
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

QTEST_MAIN(ConfigureDialogTest)
#include "configure_dialog_test.moc"
