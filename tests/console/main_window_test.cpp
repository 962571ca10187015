// The main window and its parts, against a real server on loopback: the
// toggle and its texts, a failed start, closing, dialogs that must not open
// twice, the first-start import, the monitor pane, the tray menu, the
// statistics, damaged stored looks, timer periods at their edges, the address
// choice, the process guards (stop signals at any point, also through the
// real program during start-up; exceptions reaching the event loop) and the
// screenshots of the docs.
#include <signal.h>

#include <QDockWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <thread>

#include "console/address_choice_dialog.h"
#include "console/configure_dialog.h"
#include "console/console_settings.h"
#include "console/console_timers.h"
#include "console/main_window.h"
#include "console/monitor_pane.h"
#include "console/process_guards.h"
#include "console/statistics_bar.h"
#include "console/statistics_graph.h"
#include "console/support/dialog_fixture.h"
#include "console/tray_icon.h"
#include "console/user_list_widget.h"
#include "console/window_placement.h"
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

QString Numbered(int length) {
  QString text;
  for (int i = 0; i < length; ++i) text.append(QChar('a' + (i / 7) % 26));
  return text;
}

// Throws from its event handler, as a slot reaching a damaged file could.
class Throwing : public QObject {
 protected:
  bool event(QEvent*) override { throw std::runtime_error("Too many levels of symbolic links"); }
};

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

  void monitorTrimsAtTheThresholdAndTakesWholeLinesFromManyThreads() {
    for (int start : {65535, 65536}) {
      MonitorPane pane;
      for (const QString& text : {Numbered(start), QString(), QString("Y")}) pane.appendMonitorText(text);
      QCOMPARE(pane.toPlainText(), Numbered(start).mid(start < 65536 ? 0 : 16384) + "Y");
    }
    // Producers on other threads: every append arrives whole, on the UI thread.
    QtOperatorView view;
    MonitorPane pane;
    connect(&view, &QtOperatorView::monitorTextAppended, &pane, &MonitorPane::appendMonitorText);
    auto produce = [&view](char tag) {
      for (int i = 0; i < 200; ++i) view.operatorView().appendMonitorText(std::string(40, tag) + "\r\n");
    };
    std::thread left(produce, 'L'), right(produce, 'R');
    left.join();
    right.join();
    QTRY_COMPARE_WITH_TIMEOUT(pane.characterCount(), 2 * 200 * 41, kWait);
    for (const QString& line : pane.toPlainText().split('\n', Qt::SkipEmptyParts))
      QVERIFY2(line == QString(40, 'L') || line == QString(40, 'R'), qPrintable(line));
  }

  void trayMenuFollowsTheState() {
    TrayCommands commands;
    QMenu menu;
    auto items = [&](TrayMenuState state) {  // the enabled ones
      FillTrayMenu(menu, state, commands);  // built anew each time
      QStringList texts;
      for (QAction* action : menu.actions())
        if (!action->isSeparator() && action->isEnabled()) texts << action->text();
      return texts;
    };
    QCOMPARE(items({true, true, false}), QStringList({"Deactivate", "Configure...", "Accounts...", "IP Filtering...", "Open", "Exit"}));
    // While a modal dialog runs nothing opens another or exits.
    QCOMPARE(items({false, false, true}), QStringList({"Activate"}));
  }

  // At any width the graph reads no sample past the history, and its range
  // covers only the samples drawn; the range sticks while the peak scrolls
  // out, until reset.
  void statisticsGraphRange() {
    for (int width : {-5, 0, 1}) QCOMPARE(ComputeGraphRange(width, SampleHistory{}).drawn, 0);
    QCOMPARE(ComputeGraphRange(1000, std::array<uint32_t, 3>{4, 8, 2}).drawn, 3);
    SampleHistory samples{};
    samples[100] = 5000;
    samples[179] = 99999;  // not drawn at width 180
    StatisticsGraph graph;
    graph.resize(180, 60);
    graph.setHistory(samples);
    samples[100] = 20;
    graph.setHistory(samples);
    QCOMPARE(graph.verticalMax(), 5000u);
    graph.resetRange();
    QCOMPARE(graph.verticalMax(), 20u);
  }

  void statisticsBarSamplesTheServerWhileShown() {
    test::DialogServer fixture([](settings::Settings& s, const test::DialogServer&) { s.graphBkColor = 0x00332211; });
    StatisticsBar bar(fixture.server());
    QCOMPARE(bar.graph().background(), QColor(0x11, 0x22, 0x33));
    bar.resize(500, 120);
    bar.show();
    fixture.server().bytes_sent += 1048576;
    fixture.server().bytes_received += 2 * 1048576;
    bar.sampleNow();
    bar.sampleNow();
    QString text = bar.textPane().toPlainText();
    QVERIFY2(text.startsWith("MB transmitted:\t1.00\nMB received:\t2.00\n"), qPrintable(text));
    QVERIFY2(text.contains("Max Bytes\\sec:\t1048576\n"), qPrintable(text));
    QCOMPARE(bar.graph().verticalMax(), 1048576u);

    bar.hide();
    fixture.server().bytes_sent += 777;  // sent while hidden: not a sample
    bar.show();
    bar.sampleNow();
    QCOMPARE(bar.graph().verticalMax(), 1u);  // showing starts over
    bar.applyColors(QColor(1, 2, 3), QColor(250, 251, 252));
    QCOMPARE(fixture.server().settings().graphForeColor, 0x00fcfbfau);
  }

  void storedLooksRefuseDamageAndTimersNeverSpin() {
    std::vector<uint8_t> inverted = PackRect(QRect(10, 10, 300, 300));
    std::swap_ranges(inverted.begin(), inverted.begin() + 8, inverted.begin() + 8);
    for (const auto& damaged : {std::vector<uint8_t>(15, 1), std::vector<uint8_t>(16, 0), inverted})
      QVERIFY(!UnpackRect(damaged));
    QVERIFY(!ReachableOnScreens(QRect(100000, 100000, 500, 400), {QRect(0, 0, 800, 600)}));
    std::vector<uint8_t> unterminated(60, 'A');  // a face name without its NUL stops at the end
    std::fill(unterminated.begin(), unterminated.begin() + 28, 0);
    QCOMPARE(UnpackFont(unterminated).value_or(QFont()).family(), QString(32, 'A'));
    settings::Settings s;
    s.general.timeoutIdle = s.cache.autoRefreshDirs = s.cache.autoRefreshFiles = 1;
    s.general.timeoutMinutes = s.cache.dirRefreshMinutes = 0;  // must not fire without pause, nor overflow
    s.cache.fileRefreshMinutes = 0xffffffffu;
    TimerPeriods periods = PeriodsFor(s);
    QCOMPARE(periods.idle_sweep.value_or(std::chrono::milliseconds(0)), std::chrono::milliseconds(30000));
    QVERIFY(!periods.directory_clear);
    QCOMPARE(periods.file_clear.value_or(std::chrono::milliseconds(0)), std::chrono::milliseconds(INT_MAX));
  }

  void addressChoiceIsRememberedOnlyWhenAsked() {
    const std::vector<std::string> addresses = {"", "127.0.0.5", "", "127.0.0.6"};
    test::TempDir directory;
    settings::RegistryStore store(directory.path() / "settings.reg");
    server::AddressChooser choose = MakeAddressChooser(store, nullptr);
    for (int row : {-1, 1, 0}) {  // closed, chosen, chosen for always
      test::WhenModal<AddressChoiceDialog>([row](AddressChoiceDialog* dialog) {
        auto* list = dialog->findChild<QListWidget*>("addressList");
        QCOMPARE(list->count(), 2);
        if (row < 0) return dialog->reject();
        list->setCurrentRow(row);
        test::Set(dialog, {{"alwaysCheck", row == 0}});
        test::Press(dialog);
      });
      QCOMPARE(choose(addresses), row < 0 ? std::string() : addresses[1 + 2 * row]);
      settings::RegistryStore reread(store.file());
      reread.load();
      QCOMPARE(settings::ReadDefaultIp(reread), std::string(row == 0 ? "127.0.0.5" : ""));
    }
  }

  void stopSignalRejectsOpenDialogs() {
    StopSignals stop;
    QSignalSpy requested(&stop, &StopSignals::stopRequested);
    QDialog outer, inner;
    QTimer::singleShot(0, &outer, [&] {
      QTimer::singleShot(0, &inner, [] { ::raise(SIGTERM); });
      inner.exec();
    });
    QTimer give_up;  // a signal that never came must fail the test, not hang it
    connect(&give_up, &QTimer::timeout, [] { RejectModalDialogs(); });
    give_up.setSingleShot(true);
    give_up.start(10000);
    QCOMPARE(outer.exec(), int(QDialog::Rejected));
    QVERIFY(stop.requested());
    QCOMPARE(requested.count(), 1);
    QVERIFY(give_up.isActive());
  }

  void exceptionsReachingTheLoopBecomeMessages() {
    QString shown;
    test::WhenModal<QMessageBox>([&](QMessageBox* box) {
      shown = box->text();
      box->accept();
    });
    Throwing target;
    QEvent event(QEvent::User);
    QVERIFY(!QCoreApplication::sendEvent(&target, &event));
    QCOMPARE(shown, QString("The command failed: Too many levels of symbolic links"));
  }

  // SIGTERM while start-up waits on the operator (here the notice that no
  // FTP root is set) saves the settings and ends the program normally.
  void sigtermDuringStartUpSavesAndShutsDown() {
    test::TempDir dir;
    settings::RegistryStore store(dir.path() / "settings.reg");
    settings::WriteNewInstall(store, 0);
    settings::WriteDefaultIp(store, "127.0.0.1");
    QCOMPARE(store.save(), 0);
    uint16_t port = test::FreeLoopbackPort();
    QProcess console;
    console.start(TALVEK_FTP_PATH, {"--settings", QString::fromStdString(store.file().string()), "--program-dir",
                                    QString::fromStdString(dir.path().string()), "--port", QString::number(port), "/s"});
    QVERIFY(test::WaitUntil([&] { return test::LineClient().connect(port); }, std::chrono::seconds(30)));
    console.terminate();  // SIGTERM
    QVERIFY(console.waitForFinished(30000));
    QCOMPARE(console.exitStatus(), QProcess::NormalExit);
    QCOMPARE(console.exitCode(), 0);
    settings::RegistryStore saved(store.file());
    QVERIFY(saved.load());
    settings::Settings after;
    settings::LoadSettings(saved, after);
    QVERIFY(!after.logonFile.empty());  // written by start-up, saved only at shut-down
    QCOMPARE(after.general.autoStart, 1u);
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

int main(int argc, char** argv) {
  ConsoleApplication app(argc, argv);
  MainWindowTest test;
  QTEST_SET_MAIN_SOURCE_PATH
  return QTest::qExec(&test, argc, argv);
}

#include "main_window_test.moc"
