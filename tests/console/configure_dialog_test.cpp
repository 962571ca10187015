// The configuration sheet against a real server on loopback: the value
// rules of each page, the enabling rules, and what the configure flow does
// to the running server and the settings store after OK.
#include <QtTest>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>

#include "console/configure_dialog.h"
#include "settings/settings.h"
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

void ClickOk(QDialog* dialog) {
  auto* buttons = dialog->findChild<QDialogButtonBox*>();
  QTest::mouseClick(buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
}

// Opens the sheet, lets `edit` change it, presses OK and, when the sheet
// accepted, runs the rest of the flow. Returns whether it was accepted.
bool ConfigureWith(DialogServer& fixture, ScriptedPrompts& prompts,
                   const std::function<void(ConfigureDialog&)>& edit) {
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
  void pagesComeInTheirOrderWithTheirTitles() {
    DialogServer fixture;
    ScriptedPrompts prompts;
    auto dialog = ConfigureFlow(fixture.server(), fixture.store(), prompts).makeDialog(nullptr);
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Configure Server"));
    QTabWidget* pages = dialog->pages();
    QCOMPARE(pages->count(), 5);
    QStringList titles;
    for (int i = 0; i < pages->count(); ++i) titles << pages->tabText(i);
    QCOMPARE(titles, (QStringList{"Paths", "Anonymous FTP", "General", "Cache", "Advanced"}));
  }

  void generalZerosAreStoredAsTheirDefaults() {
    DialogServer fixture;
    ScriptedPrompts prompts;
    QVERIFY(ConfigureWith(fixture, prompts, [](ConfigureDialog& dialog) {
      Find<QCheckBox>(&dialog, "timeoutCheck")->setChecked(true);
      Find<QSpinBox>(&dialog, "timeoutSpin")->setValue(0);
      Find<QSpinBox>(&dialog, "maxTotalSpin")->setValue(0);
      Find<QSpinBox>(&dialog, "perUserSpin")->setValue(0);
    }));
    auto general = fixture.server().settings().general;
    QCOMPARE(general.timeoutMinutes, 60u);
    QCOMPARE(general.maxConnections, 1000u);
    QCOMPARE(general.connectionsPerAddress, 3u);
    auto stored = settings::ReadBlock<settings::GeneralSettings>(fixture.store());
    QVERIFY(stored.has_value());
    QCOMPARE(*stored, general);
    // The store reached the disk, not only memory.
    settings::RegistryStore reread(fixture.store().file());
    QVERIFY(reread.load());
    QCOMPARE(settings::ReadBlock<settings::GeneralSettings>(reread).value_or(settings::GeneralSettings{}), general);
  }

  void generalNonZeroValuesAndRadiosAreKept() {
    DialogServer fixture;
    ScriptedPrompts prompts;
    QVERIFY(ConfigureWith(fixture, prompts, [](ConfigureDialog& dialog) {
      Find<QSpinBox>(&dialog, "maxTotalSpin")->setValue(7);
      Find<QCheckBox>(&dialog, "limitPerUserCheck")->setChecked(true);
      Find<QSpinBox>(&dialog, "perUserSpin")->setValue(1);
      Find<QRadioButton>(&dialog, "closeOldestRadio")->setChecked(true);
      Find<QCheckBox>(&dialog, "filteringCheck")->setChecked(true);
      Find<QRadioButton>(&dialog, "allowListedRadio")->setChecked(true);
    }));
    auto general = fixture.server().settings().general;
    QCOMPARE(general.maxConnections, 7u);
    QCOMPARE(general.connectionsPerAddress, 1u);
    QCOMPARE(general.limitPerAddress, 1u);
    QCOMPARE(general.refuseNew, 0u);
    QCOMPARE(general.filterEnabled, 1u);
    QCOMPARE(general.blockListed, 0u);
  }

  void enablingRulesFollowTheirBoxes() {
    DialogServer fixture;
    ScriptedPrompts prompts;
    auto dialog = ConfigureFlow(fixture.server(), fixture.store(), prompts).makeDialog(nullptr);
    auto* limit = Find<QCheckBox>(dialog.get(), "limitPerUserCheck");
    limit->setChecked(true);
    QVERIFY(Find<QSpinBox>(dialog.get(), "perUserSpin")->isEnabled());
    limit->setChecked(false);
    QVERIFY(!Find<QSpinBox>(dialog.get(), "perUserSpin")->isEnabled());
    QVERIFY(!Find<QRadioButton>(dialog.get(), "refuseNewRadio")->isEnabled());
    QVERIFY(!Find<QRadioButton>(dialog.get(), "closeOldestRadio")->isEnabled());

    auto* cache_files = Find<QCheckBox>(dialog.get(), "cacheFilesCheck");
    auto* refresh_files = Find<QCheckBox>(dialog.get(), "refreshFilesCheck");
    cache_files->setChecked(true);
    refresh_files->setChecked(true);
    QVERIFY(Find<QLineEdit>(dialog.get(), "filePeriodEdit")->isEnabled());
    cache_files->setChecked(false);
    QVERIFY(!Find<QLineEdit>(dialog.get(), "fileCacheSizeEdit")->isEnabled());
    QVERIFY(!refresh_files->isEnabled());
    QVERIFY(!Find<QLineEdit>(dialog.get(), "filePeriodEdit")->isEnabled());
    cache_files->setChecked(true);
    refresh_files->setChecked(false);
    QVERIFY(!Find<QLineEdit>(dialog.get(), "filePeriodEdit")->isEnabled());
  }

  void overflowOutsideItsRangeKeepsTheSheetOpen() {
    DialogServer fixture;
    ScriptedPrompts prompts;
    auto before = fixture.server().settings().cache;
    QVERIFY(!ConfigureWith(fixture, prompts, [](ConfigureDialog& dialog) {
      Find<QLineEdit>(&dialog, "overflowEdit")->setText("150");
      Find<QLineEdit>(&dialog, "dirCacheSizeEdit")->setText("1");
    }));
    QVERIFY(prompts.saw("Please enter an integer between 0 and 100."));
    QCOMPARE(fixture.server().settings().cache, before);

    QVERIFY(ConfigureWith(fixture, prompts, [](ConfigureDialog& dialog) {
      Find<QLineEdit>(&dialog, "overflowEdit")->setText("100");
    }));
    QCOMPARE(fixture.server().settings().cache.overflowPercent, 100u);
  }

  void rangeFailureShowsTheOffendingPage() {
    DialogServer fixture;
    ScriptedPrompts prompts;
    auto dialog = ConfigureFlow(fixture.server(), fixture.store(), prompts).makeDialog(nullptr);
    Find<QLineEdit>(dialog.get(), "overflowEdit")->setText("101");
    dialog->pages()->setCurrentIndex(0);
    ClickOk(dialog.get());
    QVERIFY(dialog->result() != QDialog::Accepted);
    QCOMPARE(dialog->pages()->tabText(dialog->pages()->currentIndex()), QStringLiteral("Cache"));
  }

  void cacheSizesReachTheCaches() {
    DialogServer fixture;
    ScriptedPrompts prompts;
    QVERIFY(ConfigureWith(fixture, prompts, [](ConfigureDialog& dialog) {
      Find<QLineEdit>(&dialog, "dirCacheSizeEdit")->setText("10");
      Find<QLineEdit>(&dialog, "fileCacheSizeEdit")->setText("4294967295");
    }));
    QCOMPARE(fixture.server().directoryCache().limit(), uint64_t{10} * 1024);
    QCOMPARE(fixture.server().fileCache().limit(), uint64_t{4294967295} * 1024);
  }

  void pathsGetTheirTrailingSlash() {
    DialogServer fixture;
    ScriptedPrompts prompts;
    std::string root = fixture.root().path().string();
    QVERIFY(ConfigureWith(fixture, prompts, [&](ConfigureDialog& dialog) {
      Find<QLineEdit>(&dialog, "ftpRootEdit")->setText(QString::fromStdString(root));
      Find<QLineEdit>(&dialog, "uploadsEdit")->setText(QString::fromStdString(root + "/up"));
    }));
    QCOMPARE(fixture.server().settings().ftpRootDir, root + "/");
    QCOMPARE(fixture.server().settings().uploadsDir, root + "/up/");
    QCOMPARE(fixture.store().getString(settings::kSettingsKey, "FTPRootDir").value_or(""), root + "/");
  }

  void browseReplacesOnlyOnAChoice() {
    DialogServer fixture;
    ScriptedPrompts prompts;
    auto dialog = ConfigureFlow(fixture.server(), fixture.store(), prompts).makeDialog(nullptr);
    auto* root = Find<QLineEdit>(dialog.get(), "ftpRootEdit");
    QString before = root->text();
    Find<QPushButton>(dialog.get(), "ftpRootBrowse")->click();
    QCOMPARE(root->text(), before);
    prompts.folder = "/elsewhere";
    Find<QPushButton>(dialog.get(), "ftpRootBrowse")->click();
    QCOMPARE(root->text(), QStringLiteral("/elsewhere"));
    QCOMPARE(prompts.chooser_titles.front(), QStringLiteral("FTP Root Directory:"));
  }

  void anonymousPageShowsTheFtpRootForAnEmptyRoot() {
    DialogServer fixture;
    ScriptedPrompts prompts;
    auto dialog = ConfigureFlow(fixture.server(), fixture.store(), prompts).makeDialog(nullptr);
    QCOMPARE(Find<QLineEdit>(dialog.get(), "anonymousRootEdit")->text(),
             QString::fromStdString(fixture.root().dir()));
  }

  void anonymousRightsAreRebuiltFromTheBoxes() {
    DialogServer fixture;
    ScriptedPrompts prompts;
    fixture.server().updateSettings([](settings::Settings& s) { s.anonymous.rights = 0xff; });
    QVERIFY(ConfigureWith(fixture, prompts, [](ConfigureDialog& dialog) {
      Find<QCheckBox>(&dialog, "allowAnonymousCheck")->setChecked(true);
      Find<QCheckBox>(&dialog, "anonymousWriteCheck")->setChecked(false);
    }));
    QCOMPARE(int(fixture.server().settings().anonymous.rights), 1 | 4);
  }

  void switchingAnonymousOffDisconnectsAnonymousUsers() {
    DialogServer fixture([](settings::Settings& s, const DialogServer&) {
      s.anonymous.allow = 1;
      s.anonymous.rights = 1;
    });
    ScriptedPrompts prompts;
    auto anonymous = fixture.login("Anonymous", "guest@");
    QVERIFY(anonymous);
    auto other = fixture.connect();
    QVERIFY(other);
    QVERIFY(fixture.waitForRegistered(2));

    QVERIFY(ConfigureWith(fixture, prompts, [](ConfigureDialog& dialog) {
      Find<QCheckBox>(&dialog, "allowAnonymousCheck")->setChecked(false);
    }));
    QVERIFY(anonymous->waitClosed());
    QVERIFY(fixture.waitForRegistered(1));
    auto noop = other->ask("NOOP");
    QVERIFY(noop.has_value());
    QCOMPARE(fixture.server().settings().anonymous.allow, 0u);
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
    QCOMPARE(prompts.messages.front().caption, QStringLiteral("IP Address Change"));
    QCOMPARE(fixture.server().serverAddress(), in_use);
    QCOMPARE(settings::ReadDefaultIp(fixture.store()), std::string("127.0.0.2"));
    QCOMPARE(fixture.server().settings().net.addressText(), std::string("127.0.0.2"));

    // Next time the page opens on "Use as default", and keeping the address
    // in use with "Prompt on startup" clears the default without a message.
    prompts.clear();
    QVERIFY(ConfigureWith(fixture, prompts, [&](ConfigureDialog& dialog) {
      QVERIFY(Find<QRadioButton>(&dialog, "useDefaultRadio")->isChecked());
      auto* list = Find<QListWidget>(&dialog, "addressList");
      auto found = list->findItems(QString::fromStdString(in_use), Qt::MatchExactly);
      QVERIFY(!found.isEmpty());
      QCOMPARE(list->currentItem(), found.front());
      Find<QRadioButton>(&dialog, "promptRadio")->setChecked(true);
    }));
    QVERIFY(prompts.messages.empty());
    QCOMPARE(settings::ReadDefaultIp(fixture.store()), std::string());
  }

  void portWithoutAlwaysUseIsTwentyOne() {
    DialogServer fixture;
    ScriptedPrompts prompts;
    QVERIFY(ConfigureWith(fixture, prompts, [](ConfigureDialog& dialog) {
      Find<QLineEdit>(&dialog, "portEdit")->setText("2121");
      Find<QCheckBox>(&dialog, "alwaysPortCheck")->setChecked(false);
    }));
    QCOMPARE(fixture.server().settings().net.port, 21u);
    settings::Settings reread;
    settings::LoadSettings(fixture.store(), reread);
    QCOMPARE(reread.net.port, 21u);
    QCOMPARE(reread.net.alwaysUsePort, 0u);
  }

  void storedPortIsUsedAtTheNextStart() {
    DialogServer fixture;
    ScriptedPrompts prompts;
    uint16_t wanted = talvek::test::FreeLoopbackPort();
    QVERIFY(wanted != 0);
    QVERIFY(ConfigureWith(fixture, prompts, [&](ConfigureDialog& dialog) {
      Find<QLineEdit>(&dialog, "portEdit")->setText(QString::number(wanted) + "x");
      Find<QCheckBox>(&dialog, "alwaysPortCheck")->setChecked(true);
    }));
    // The running listener keeps its port until it is started again.
    QCOMPARE(fixture.server().listeningPort(), fixture.port());
    fixture.server().toggleActive();
    fixture.server().toggleActive();
    auto started = fixture.server().waitForStart();
    QVERIFY(started && started->listening);
    QCOMPARE(started->port, wanted);
  }

  void portOutsideItsRangeKeepsTheSheetOpen() {
    DialogServer fixture;
    ScriptedPrompts prompts;
    QVERIFY(!ConfigureWith(fixture, prompts, [](ConfigureDialog& dialog) {
      Find<QLineEdit>(&dialog, "portEdit")->setText("65536");
    }));
    QVERIFY(prompts.saw("Please enter an integer between 1 and 65535."));
    QVERIFY(!ConfigureWith(fixture, prompts, [](ConfigureDialog& dialog) {
      Find<QLineEdit>(&dialog, "portEdit")->setText("none");
    }));
  }

  void logFileOpensAndCloses() {
    DialogServer fixture;
    ScriptedPrompts prompts;
    QString log_path = QString::fromStdString((fixture.programDirectory().path() / "ftp.log").string());
    QVERIFY(ConfigureWith(fixture, prompts, [&](ConfigureDialog& dialog) {
      Find<QCheckBox>(&dialog, "recordLogCheck")->setChecked(true);
      Find<QLineEdit>(&dialog, "logPathEdit")->setText(log_path);
    }));
    QVERIFY(fixture.server().logThread().isOpen());
    QVERIFY(ConfigureWith(fixture, prompts, [](ConfigureDialog& dialog) {
      Find<QCheckBox>(&dialog, "recordLogCheck")->setChecked(false);
    }));
    QVERIFY(!fixture.server().logThread().isOpen());
    // A log file that cannot be opened is reported, not silently dropped.
    QVERIFY(ConfigureWith(fixture, prompts, [&](ConfigureDialog& dialog) {
      Find<QCheckBox>(&dialog, "recordLogCheck")->setChecked(true);
      Find<QLineEdit>(&dialog, "logPathEdit")->setText(log_path + "/missing/dir/ftp.log");
    }));
    QVERIFY(!prompts.messages.empty());
    QVERIFY(prompts.messages.back().text.startsWith("Cannot open the log file"));
  }

  void runShowsTheSheetModallyAndCancelChangesNothing() {
    DialogServer fixture;
    ScriptedPrompts prompts;
    auto before = fixture.server().settings().general;
    auto rejected = talvek::test::WhenModal<ConfigureDialog>([](ConfigureDialog* dialog) {
      Find<QSpinBox>(dialog, "maxTotalSpin")->setValue(5);
      dialog->reject();
    });
    QVERIFY(!ConfigureFlow(fixture.server(), fixture.store(), prompts).run(nullptr));
    QVERIFY(*rejected);
    QCOMPARE(fixture.server().settings().general, before);
    QVERIFY(!fixture.store().contains(settings::kSettingsKey, "GeneralSettings"));

    auto accepted = talvek::test::WhenModal<ConfigureDialog>([](ConfigureDialog* dialog) {
      Find<QSpinBox>(dialog, "maxTotalSpin")->setValue(5);
      ClickOk(dialog);
    });
    QVERIFY(ConfigureFlow(fixture.server(), fixture.store(), prompts).run(nullptr));
    QVERIFY(*accepted);
    QCOMPARE(fixture.server().settings().general.maxConnections, 5u);
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
