// The main window against a real server on loopback: the toggle with its
// texts and the tray tip's count, a failed start, closing and the stored
// rectangle, dialogs that must not open twice, event lines, the first-start
// import and the screenshots of the docs.
#include <QDockWidget>
#include <QMessageBox>
#include <QSignalSpy>
#include <QtTest>

#include "console/configure_dialog.h"
#include "console/main_window.h"
#include "console/monitor_pane.h"
#include "console/statistics_bar.h"
#include "console/support/dialog_fixture.h"
#include "console/user_list_widget.h"
#include "settings/settings.h"

using namespace talvek;
using namespace talvek::console;

namespace {

constexpr int kWait = 5000;

QString Plain(QString text) { return text.remove(QLatin1Char('&')); }

std::unique_ptr<MainWindow> MakeWindow(test::DialogServer& fixture) {
  auto window = std::make_unique<MainWindow>(fixture.server(), fixture.view(), fixture.store(),
                                             fixture.programDirectory().path());
  window->serverInitialised(false);
  return window;
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void toggleFollowsTheServerAndCountsConnections() {
    test::DialogServer fixture;
    auto window = MakeWindow(fixture);
    const ConsoleActions& a = window->actions();
    QCOMPARE(Plain(a.start_stop->text()), QString("Stop FTP Server"));
    auto first = fixture.connect();
    QVERIFY(first && fixture.waitForRegistered(1));
    QCOMPARE(window->trayTip(), QString("Talvek FTP\r\nActive - 1  connection"));
    QTRY_COMPARE_WITH_TIMEOUT(window->userList().count(), 1, kWait);
    auto second = fixture.connect();
    QVERIFY(second && fixture.waitForRegistered(2));
    QCOMPARE(window->trayTip(), QString("Talvek FTP\r\nActive - 2  connections"));

    a.toolbar_toggle->trigger();  // stopping closes both connections
    QCOMPARE(Plain(a.start_stop->text()), QString("Start FTP Server"));
    QVERIFY(!a.toolbar_toggle->isChecked());
    QVERIFY(first->waitClosed() && second->waitClosed());
    QTRY_COMPARE_WITH_TIMEOUT(window->statusText(), QString("Server inactive"), kWait);
    QTRY_COMPARE_WITH_TIMEOUT(window->userList().count(), 0, kWait);
    QCOMPARE(window->trayTip(), QString("Talvek FTP\r\nNot Active"));
    QTRY_VERIFY_WITH_TIMEOUT(window->monitorPane().toPlainText().contains("Connection to 127.0.0.1 closed.\n\n"), kWait);

    a.start_stop->trigger();
    QVERIFY(a.toolbar_toggle->isChecked());
    QVERIFY(fixture.server().waitForStart());
    QString ready = QString("FTP Server ready, listening on port %1").arg(fixture.server().listeningPort());
    QTRY_COMPARE_WITH_TIMEOUT(window->statusText(), ready, kWait);
  }

  void failedStartReleasesTheButton() {
    test::DialogServer holder;
    test::DialogServer fixture;
    auto window = MakeWindow(fixture);
    window->toggleServer();  // stop, then start again on a port in use
    fixture.server().updateSettings([&](settings::Settings& s) { s.net.port = holder.port(); });
    window->actions().toolbar_toggle->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(window->statusText().startsWith("Failed to create passive socket"), kWait);
    QVERIFY(!fixture.server().active());
    QVERIFY(!window->actions().toolbar_toggle->isChecked());
    QCOMPARE(Plain(window->actions().start_stop->text()), QString("Start FTP Server"));
    // The server's warning does not block the window that mirrors it.
    QTRY_COMPARE_WITH_TIMEOUT(window->findChildren<QMessageBox*>().size(), qsizetype{1}, kWait);
    QMessageBox* box = window->findChildren<QMessageBox*>().front();
    QCOMPARE(box->windowTitle(), QString("Server start failure"));
    QVERIFY(box->windowModality() != Qt::ApplicationModal);
  }

  void closingHidesOnlyWithTheBackgroundFlag() {
    for (uint32_t background : {1u, 0u}) {
      test::DialogServer fixture([=](settings::Settings& s, const test::DialogServer&) {
        s.general.runInBackground = background;
      });
      auto window = MakeWindow(fixture);
      QSignalSpy closed(window.get(), &MainWindow::closed);
      window->show();
      QVERIFY(QTest::qWaitForWindowExposed(window.get()));
      QCOMPARE(window->close(), background == 0);
      QCOMPARE(closed.count(), background == 0 ? 1 : 0);
      if (background) {
        // Without a tray the window could not come back from hiding.
        if (!window->hasTray()) QTRY_VERIFY_WITH_TIMEOUT(window->isMinimized(), kWait);
        window->exitProgram();
        QCOMPARE(closed.count(), 1);
      }
      QVERIFY(!window->statisticsBar().sampling());
      QCOMPARE(MakeWindow(fixture)->geometry(), window->geometry());  // stored as it closed
    }
  }

  void dialogsDoNotOpenTwiceNorExitUnderThem() {
    test::DialogServer fixture;
    auto window = MakeWindow(fixture);
    QSignalSpy closed(window.get(), &MainWindow::closed);
    QList<QDialog*> open_dialogs;
    auto ran = test::WhenModal<ConfigureDialog>([&](ConfigureDialog* sheet) {
      // What the tray could ask for while the sheet runs.
      window->configure();
      window->actions().accounts->trigger();
      window->actions().filter->trigger();
      window->actions().exit->trigger();
      for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QDialog*>(widget); dialog && dialog->isVisible()) open_dialogs << dialog;
      sheet->reject();
    });
    window->configure();
    QVERIFY(*ran);
    QCOMPARE(open_dialogs.size(), qsizetype{1});
    QCOMPARE(closed.count(), 0);
    window->actions().exit->trigger();
    QCOMPARE(closed.count(), 1);
  }

  void firstStartImportsDefaultsOnce() {
    test::DialogServer fixture;
    settings::WriteNewInstall(fixture.store(), 1);
    fixture.programDirectory().write("defaults.reg", "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Talvek\\Talvek FTP\\"
                                                     "Settings]\r\n\"EnableLog\"=dword:0000001e\r\n\r\n");
    for (uint32_t expected : {30u, 0u}) {  // the operator's later change stays
      MakeWindow(fixture);
      QCOMPARE(fixture.store().getDword(settings::kSettingsKey, "EnableLog").value_or(99), expected);
      fixture.store().setDword(settings::kSettingsKey, "EnableLog", 0);
    }
  }

  void screenshots() {
    QByteArray docs = qgetenv("TALVEK_DOCS_DIR");
    if (docs.isEmpty()) QSKIP("TALVEK_DOCS_DIR is not set");
    test::DialogServer fixture;
    auto window = MakeWindow(fixture);
    window->resize(900, 600);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->toggleServer();
    window->toggleServer();
    QVERIFY(fixture.server().waitForStart());
    auto client = fixture.connect();
    QVERIFY(client && fixture.waitForRegistered(1));
    QTRY_COMPARE_WITH_TIMEOUT(window->userList().count(), 1, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(window->statusText().startsWith("FTP Server ready"), kWait);
    fixture.server().logEvent("2026-12-06 23:00:00 : Connection from 127.0.0.1");
    QTRY_VERIFY_WITH_TIMEOUT(!window->monitorPane().toPlainText().isEmpty(), kWait);
    const std::array<uint64_t, 8> rates{200000, 650000, 420000, 900000, 300000, 780000, 560000, 120000};
    for (size_t second = 0; second < 90; ++second) {
      fixture.server().bytes_sent += rates[second % rates.size()] + second * 4000;
      window->statisticsBar().sampleNow();
    }
    QDir dir(QString::fromLocal8Bit(docs));
    QVERIFY(window->grab().save(dir.filePath("console-main-window.png")));
    QVERIFY(window->statisticsDock().grab().save(dir.filePath("console-statistics.png")));
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
