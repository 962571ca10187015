// The main window against a real server on loopback: start and stop with
// their texts, a failed start, the tray tip's count, window rectangles,
// closing to the background, the timers, the first-start import and the
// screenshots of the docs.
#include <QDockWidget>
#include <QMessageBox>
#include <QSignalSpy>
#include <QStatusBar>
#include <QtTest>

#include "console/console_settings.h"
#include "console/console_timers.h"
#include "console/main_window.h"
#include "console/monitor_pane.h"
#include "console/statistics_bar.h"
#include "console/user_list_widget.h"
#include "console/support/qt_server_fixture.h"
#include "settings/settings.h"

using namespace talvek;
using namespace talvek::console;

namespace {

constexpr int kWait = 5000;

QString Plain(QString text) { return text.remove(QLatin1Char('&')); }

std::unique_ptr<MainWindow> MakeWindow(test::QtServerFixture& fixture) {
  auto window = std::make_unique<MainWindow>(fixture.server(), fixture.view(), fixture.store(),
                                             fixture.programDirectory());
  window->serverInitialised(false);
  return window;
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void startAndStopFollowTheServer();
  void trayTipCountsConnections();
  void failedStartReleasesTheButton();
  void windowRectanglesRoundTrip();
  void damagedRectanglesAreIgnored();
  void closeWithBackgroundFlagKeepsRunning();
  void closeWithoutBackgroundFlagEnds();
  void timersFollowTheSettings();
  void statisticsMenuStartsAndStopsSampling();
  void monitorShowsEventLines();
  void firstStartImportsDefaults();
  void screenshots();
};

void MainWindowTest::startAndStopFollowTheServer() {
  test::QtServerFixture fixture;
  auto window = MakeWindow(fixture);
  const ConsoleActions& a = window->actions();
  QCOMPARE(Plain(a.start_stop->text()), QString("Start FTP Server"));
  QCOMPARE(window->statusText(), QString("Server inactive"));
  QVERIFY(!a.toolbar_toggle->isChecked());

  a.start_stop->trigger();
  QCOMPARE(Plain(a.start_stop->text()), QString("Stop FTP Server"));
  QVERIFY(a.toolbar_toggle->isChecked());
  QVERIFY(fixture.server().waitForStart());
  QString ready = QString("FTP Server ready, listening on port %1").arg(fixture.server().listeningPort());
  QTRY_COMPARE_WITH_TIMEOUT(window->statusText(), ready, kWait);

  a.toolbar_toggle->trigger();  // the toolbar button is the same toggle
  QCOMPARE(Plain(a.start_stop->text()), QString("Start FTP Server"));
  QVERIFY(!a.toolbar_toggle->isChecked());
  QTRY_COMPARE_WITH_TIMEOUT(window->statusText(), QString("Server inactive"), kWait);

  a.toolbar_toggle->trigger();
  QVERIFY(a.toolbar_toggle->isChecked());
  QTRY_VERIFY_WITH_TIMEOUT(window->statusText().startsWith("FTP Server ready"), kWait);
}

void MainWindowTest::trayTipCountsConnections() {
  test::QtServerFixture fixture;
  auto window = MakeWindow(fixture);
  QCOMPARE(window->trayTip(), QString("Talvek FTP\r\nNot Active"));
  uint16_t port = fixture.startListening();
  QVERIFY(port != 0);
  QCOMPARE(window->trayTip(), QString("Talvek FTP\r\nActive - 0  connections"));

  test::LineClient first;
  QVERIFY(first.connect(port));
  QVERIFY(first.readReply());
  QVERIFY(fixture.waitForRegistered(1));
  QCOMPARE(window->trayTip(), QString("Talvek FTP\r\nActive - 1  connection"));
  QTRY_COMPARE_WITH_TIMEOUT(window->userList().count(), 1, kWait);

  test::LineClient second;
  QVERIFY(second.connect(port));
  QVERIFY(second.readReply());
  QVERIFY(fixture.waitForRegistered(2));
  QCOMPARE(window->trayTip(), QString("Talvek FTP\r\nActive - 2  connections"));

  // Stopping closes both connections.
  window->toggleServer();
  QVERIFY(first.waitClosed());
  QVERIFY(second.waitClosed());
  QVERIFY(fixture.waitForRegistered(0));
  QTRY_COMPARE_WITH_TIMEOUT(window->userList().count(), 0, kWait);
  QCOMPARE(window->trayTip(), QString("Talvek FTP\r\nNot Active"));
}

void MainWindowTest::failedStartReleasesTheButton() {
  test::QtServerFixture holder;
  uint16_t taken = holder.startListening();
  QVERIFY(taken != 0);
  test::QtServerFixture fixture([taken](settings::Settings& s) { s.net.port = taken; });
  auto window = MakeWindow(fixture);
  window->show();
  window->actions().toolbar_toggle->trigger();
  QTRY_VERIFY_WITH_TIMEOUT(!fixture.server().active(), kWait);
  QTRY_VERIFY_WITH_TIMEOUT(window->statusText().startsWith("Failed to create passive socket") ||
                               window->statusText().startsWith("Listen on port"),
                           kWait);
  QVERIFY(!window->actions().toolbar_toggle->isChecked());
  QCOMPARE(Plain(window->actions().start_stop->text()), QString("Start FTP Server"));
  // The server's warning is shown without blocking the window.
  auto boxes = window->findChildren<QMessageBox*>();
  if (window->statusText().startsWith("Failed to create")) {
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.front()->windowTitle(), QString("Server start failure"));
    QVERIFY(!boxes.front()->isModal() || boxes.front()->windowModality() == Qt::WindowModal);
  }
}

void MainWindowTest::windowRectanglesRoundTrip() {
  test::QtServerFixture fixture;
  const QRect placed(50, 60, 640, 420);
  {
    auto window = MakeWindow(fixture);
    window->show();
    window->setGeometry(placed);
    QTRY_COMPARE_WITH_TIMEOUT(window->geometry(), placed, kWait);
    window->exitProgram();
  }
  auto bytes = fixture.store().getBinary(settings::kSettingsKey, kWindowRectValue);
  QVERIFY(bytes);
  QCOMPARE(bytes->size(), size_t{16});
  QCOMPARE(UnpackRect(*bytes).value_or(QRect()), placed);
  QCOMPARE((*bytes)[8], uint8_t{690 & 0xff});  // right = left + width
  QVERIFY(fixture.store().getBinary(settings::kSettingsKey, kUserRectValue));
  QVERIFY(fixture.store().getBinary(settings::kSettingsKey, kStatsRectValue));

  auto again = MakeWindow(fixture);
  QCOMPARE(again->geometry(), placed);
}

void MainWindowTest::damagedRectanglesAreIgnored() {
  test::QtServerFixture fixture;
  QSize usual = MakeWindow(fixture)->size();
  auto& store = fixture.store();
  store.setBinary(settings::kSettingsKey, kWindowRectValue, std::vector<uint8_t>(15, 1));
  QCOMPARE(MakeWindow(fixture)->size(), usual);
  WriteRect(store, kWindowRectValue, QRect(100000, 100000, 500, 400));  // on no screen
  QCOMPARE(MakeWindow(fixture)->size(), usual);
  std::vector<uint8_t> inverted = PackRect(QRect(10, 10, 300, 300));
  std::swap_ranges(inverted.begin(), inverted.begin() + 8, inverted.begin() + 8);
  store.setBinary(settings::kSettingsKey, kWindowRectValue, inverted);
  QCOMPARE(MakeWindow(fixture)->size(), usual);
}

void MainWindowTest::closeWithBackgroundFlagKeepsRunning() {
  test::QtServerFixture fixture([](settings::Settings& s) { s.general.runInBackground = 1; });
  auto window = MakeWindow(fixture);
  QSignalSpy closed(window.get(), &MainWindow::closed);
  window->show();
  QVERIFY(QTest::qWaitForWindowExposed(window.get()));
  QVERIFY(!window->close());
  QCOMPARE(closed.count(), 0);
  if (window->hasTray()) {
    QVERIFY(window->isHidden());
  } else {
    // Without a tray the window could not come back from hiding.
    QTRY_VERIFY_WITH_TIMEOUT(window->isMinimized(), kWait);
    QVERIFY(window->statusBar()->currentMessage().contains("minimised"));
    window->statusBar()->clearMessage();
    window->showNormal();
    QVERIFY(!window->close());
    QVERIFY(window->statusBar()->currentMessage().isEmpty());  // said once only
  }
  QVERIFY(fixture.store().getBinary(settings::kSettingsKey, kWindowRectValue) == std::nullopt);
  window->exitProgram();
  QCOMPARE(closed.count(), 1);
  QVERIFY(fixture.store().getBinary(settings::kSettingsKey, kWindowRectValue));
}

void MainWindowTest::closeWithoutBackgroundFlagEnds() {
  test::QtServerFixture fixture;
  auto window = MakeWindow(fixture);
  QSignalSpy closed(window.get(), &MainWindow::closed);
  window->show();
  QVERIFY(window->close());
  QCOMPARE(closed.count(), 1);
  QVERIFY(!window->statisticsBar().sampling());
}

void MainWindowTest::timersFollowTheSettings() {
  test::QtServerFixture fixture([](settings::Settings& s) {
    s.general.timeoutIdle = 1;
    s.general.timeoutMinutes = 4;
    s.cache.autoRefreshDirs = 1;
    s.cache.dirRefreshMinutes = 3;
    s.cache.autoRefreshFiles = 0;
  });
  auto window = MakeWindow(fixture);
  const ConsoleTimers& timers = window->timers();
  QVERIFY(timers.idleTimer().isActive());
  QCOMPARE(timers.idleTimer().interval(), 4 * 30000);
  QVERIFY(timers.directoryTimer().isActive());
  QCOMPARE(timers.directoryTimer().interval(), 3 * 60000);
  QVERIFY(!timers.fileTimer().isActive());
}

void MainWindowTest::statisticsMenuStartsAndStopsSampling() {
  test::QtServerFixture fixture;
  auto window = MakeWindow(fixture);
  window->show();
  QVERIFY(window->statisticsBar().sampling());
  window->actions().statistics->trigger();  // unchecks: hide
  QVERIFY(window->statisticsDock().isHidden());
  QVERIFY(!window->statisticsBar().sampling());
  window->actions().statistics->trigger();
  QVERIFY(window->statisticsBar().sampling());
  window->actions().monitor->trigger();
  QVERIFY(window->monitorPane().isHidden());
}

void MainWindowTest::monitorShowsEventLines() {
  test::QtServerFixture fixture;
  auto window = MakeWindow(fixture);
  fixture.server().logEvent("first event");
  fixture.server().logEvent("second event");
  QTRY_VERIFY_WITH_TIMEOUT(window->monitorPane().toPlainText().contains("second event"), kWait);
  QVERIFY(window->monitorPane().toPlainText().endsWith("first event\n\nsecond event\n\n"));
}

void MainWindowTest::firstStartImportsDefaults() {
  test::QtServerFixture fixture;
  auto& store = fixture.store();
  settings::WriteNewInstall(store, 1);
  test::WriteFile(fixture.programDirectory() / "defaults.reg",
                  "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Talvek\\Talvek FTP\\Settings]\r\n"
                  "\"UploadsDir\"=\"C:\\\\up\"\r\n\"EnableLog\"=dword:0000001e\r\n\r\n");
  auto window = MakeWindow(fixture);
  QCOMPARE(settings::ReadNewInstall(store), 0u);
  QCOMPARE(store.getDword(settings::kSettingsKey, "EnableLog").value_or(0), 30u);
  QCOMPARE(store.getString(settings::kSettingsKey, "UploadsDir").value_or(""), std::string("C:\\\\up"));

  // Not again: a second window leaves what the operator changed.
  store.setDword(settings::kSettingsKey, "EnableLog", 0);
  auto second = MakeWindow(fixture);
  QCOMPARE(store.getDword(settings::kSettingsKey, "EnableLog").value_or(99), 0u);
}

void MainWindowTest::screenshots() {
  QByteArray docs = qgetenv("TALVEK_DOCS_DIR");
  if (docs.isEmpty()) QSKIP("TALVEK_DOCS_DIR is not set");
  test::QtServerFixture fixture;
  auto window = MakeWindow(fixture);
  window->resize(900, 600);
  window->show();
  QVERIFY(QTest::qWaitForWindowExposed(window.get()));
  uint16_t port = fixture.startListening();
  QVERIFY(port != 0);
  test::LineClient client;
  QVERIFY(client.connect(port));
  QVERIFY(client.readReply());
  QVERIFY(fixture.waitForRegistered(1));
  QTRY_COMPARE_WITH_TIMEOUT(window->userList().count(), 1, kWait);
  QTRY_VERIFY_WITH_TIMEOUT(window->statusText().startsWith("FTP Server ready"), kWait);
  fixture.server().logEvent("2026-12-06 23:00:00 : Connection from 127.0.0.1");
  QTRY_VERIFY_WITH_TIMEOUT(!window->monitorPane().toPlainText().isEmpty(), kWait);
  StatisticsBar& bar = window->statisticsBar();
  const std::array<uint64_t, 8> rates{200000, 650000, 420000, 900000, 300000, 780000, 560000, 120000};
  for (size_t second = 0; second < 90; ++second) {
    fixture.server().bytes_sent += rates[second % rates.size()] + second * 4000;
    bar.sampleNow();
  }
  QDir dir(QString::fromLocal8Bit(docs));
  QVERIFY(window->grab().save(dir.filePath("console-main-window.png")));
  QVERIFY(window->statisticsDock().grab().save(dir.filePath("console-statistics.png")));
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
