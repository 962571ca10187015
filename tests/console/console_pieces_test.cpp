// The console's smaller parts: the monitor pane's trimming and queued
// appends, the tray tip and menu, damaged stored looks, timer periods at
// their edges, the address choice, and the guards of the process: stop
// signals at any point (also through the real program during start-up) and
// exceptions that reach the event loop.
#include <signal.h>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <thread>

#include "console/address_choice_dialog.h"
#include "console/console_settings.h"
#include "console/console_timers.h"
#include "console/monitor_pane.h"
#include "console/qt_operator_view.h"
#include "console/process_guards.h"
#include "console/support/dialog_fixture.h"
#include "console/tray_icon.h"
#include "console/window_placement.h"
#include "settings/settings.h"

using namespace talvek;
using namespace talvek::console;

namespace {

QString Numbered(int length) {
  QString text;
  for (int i = 0; i < length; ++i) text.append(QChar('a' + (i / 7) % 26));
  return text;
}

void PressOk(QDialog* dialog) {
  QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
}

// Throws from its event handler, as a slot reaching a damaged file could.
class Throwing : public QObject {
 protected:
  bool event(QEvent*) override { throw std::runtime_error("Too many levels of symbolic links"); }
};

}  // namespace

class ConsolePiecesTest : public QObject {
  Q_OBJECT

 private slots:
  void monitorTrimsAtTheThreshold() {
    for (int start : {65535, 65536}) {
      MonitorPane pane;
      pane.appendMonitorText(Numbered(start));
      pane.appendMonitorText("Y");
      QCOMPARE(pane.toPlainText(), Numbered(start).mid(start < 65536 ? 0 : 16384) + "Y");
    }
    MonitorPane pane;
    for (const char* text : {"one\r\n\r\n", "", "two\r\n"}) pane.appendMonitorText(text);
    QCOMPARE(pane.toPlainText(), QString("one\n\ntwo\n"));
  }

  // Producers on other threads: every append arrives whole, on the UI thread.
  void viewDeliversWholeLinesFromManyThreads() {
    QtOperatorView view;
    MonitorPane pane;
    connect(&view, &QtOperatorView::monitorTextAppended, &pane, &MonitorPane::appendMonitorText);
    auto produce = [&view](char tag) {
      for (int i = 0; i < 200; ++i) view.operatorView().appendMonitorText(std::string(40, tag) + "\r\n");
    };
    std::thread left(produce, 'L'), right(produce, 'R');
    left.join();
    right.join();
    QTRY_COMPARE_WITH_TIMEOUT(pane.characterCount(), 2 * 200 * 41, 5000);
    for (const QString& line : pane.toPlainText().split('\n', Qt::SkipEmptyParts))
      QVERIFY2(line == QString(40, 'L') || line == QString(40, 'R'), qPrintable(line));
  }

  void trayTipAndMenu() {
    QCOMPARE(TrayTipText("Talvek FTP", true, 0), QString("Talvek FTP\r\nActive - 0  connections"));
    TrayCommands commands;
    QMenu menu;
    FillTrayMenu(menu, {true, true, false}, commands);
    QStringList labels;
    for (QAction* action : menu.actions()) labels << action->text();
    QCOMPARE(labels, QStringList({"Deactivate", "", "Configure...", "Accounts...", "IP Filtering...", "", "Open", "Exit"}));
    // Built anew; while a modal dialog runs nothing opens another or exits.
    FillTrayMenu(menu, {false, false, true}, commands);
    QStringList enabled;
    for (QAction* action : menu.actions())
      if (!action->isSeparator() && action->isEnabled()) enabled << action->text();
    QCOMPARE(enabled, QStringList({"Activate"}));
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
        dialog->findChild<QCheckBox*>("alwaysCheck")->setChecked(row == 0);
        PressOk(dialog);
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
    QVERIFY(dynamic_cast<ConsoleApplication*>(qApp));
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
};

int main(int argc, char** argv) {
  ConsoleApplication app(argc, argv);
  ConsolePiecesTest test;
  QTEST_SET_MAIN_SOURCE_PATH
  return QTest::qExec(&test, argc, argv);
}

#include "console_pieces_test.moc"
