// The console's smaller parts: the monitor pane's trimming and queued
// appends, the tray tip and menu, the stored rectangles, font and colours,
// the timer periods and where help is looked for.
#include <QMenu>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include <thread>

#include "console/console_settings.h"
#include "console/console_timers.h"
#include "console/help_topics.h"
#include "console/monitor_pane.h"
#include "console/qt_operator_view.h"
#include "console/tray_icon.h"
#include "console/window_placement.h"
#include "support/test_support.h"

using namespace talvek;
using namespace talvek::console;

namespace {

// Text whose every position can be recognised afterwards.
QString Numbered(int length) {
  QString text;
  text.reserve(length);
  for (int i = 0; i < length; ++i) text.append(QChar('a' + (i / 7) % 26));
  return text;
}

QStringList Labels(const QMenu& menu) {
  QStringList labels;
  for (QAction* action : menu.actions()) labels << action->text();
  return labels;
}

}  // namespace

class ConsolePiecesTest : public QObject {
  Q_OBJECT

 private slots:
  void monitorKeepsTextBelowTheThreshold();
  void monitorDropsOldestAtTheThreshold();
  void monitorJoinsLineEndsAndIgnoresEmptyText();
  void viewDeliversOnTheUiThreadInOrder();
  void trayTip();
  void trayMenuOrder();
  void rectanglesPackAndRefuseDamage();
  void reachableRectangles();
  void fontAndColourRoundTrip();
  void timerPeriods();
  void helpLookup();
};

void ConsolePiecesTest::monitorKeepsTextBelowTheThreshold() {
  MonitorPane pane;
  const QString start = Numbered(65535);
  pane.appendMonitorText(start);
  QCOMPARE(pane.characterCount(), 65535);
  pane.appendMonitorText("X");
  QCOMPARE(pane.characterCount(), 65536);
  QCOMPARE(pane.toPlainText(), start + "X");
}

void ConsolePiecesTest::monitorDropsOldestAtTheThreshold() {
  MonitorPane pane;
  const QString start = Numbered(65536);
  pane.appendMonitorText(start);
  pane.appendMonitorText("Y");
  QCOMPARE(pane.characterCount(), 65536 - 16384 + 1);
  QCOMPARE(pane.toPlainText(), start.mid(16384) + "Y");
}

void ConsolePiecesTest::monitorJoinsLineEndsAndIgnoresEmptyText() {
  MonitorPane pane;
  pane.appendMonitorText("one\r\n\r\n");
  pane.appendMonitorText("");
  pane.appendMonitorText("two\r\n");
  QCOMPARE(pane.toPlainText(), QString("one\n\ntwo\n"));
  QCOMPARE(pane.characterCount(), 9);
  QVERIFY(pane.isReadOnly());
  QVERIFY(!pane.isUndoRedoEnabled());
}

void ConsolePiecesTest::viewDeliversOnTheUiThreadInOrder() {
  QtOperatorView view;
  MonitorPane pane;
  QStringList statuses;
  bool off_thread = false;
  connect(&view, &QtOperatorView::monitorTextAppended, &pane, &MonitorPane::appendMonitorText);
  connect(&view, &QtOperatorView::statusTextChanged, this, [&](const QString& text) {
    off_thread = off_thread || QThread::currentThread() != qApp->thread();
    statuses << text;
  });
  QSignalSpy titles(&view, &QtOperatorView::titleChanged);
  QSignalSpy users(&view, &QtOperatorView::userListChanged);
  QSignalSpy messages(&view, &QtOperatorView::messageRequested);
  constexpr int kLines = 200;
  auto produce = [&view](char tag) {
    for (int i = 0; i < kLines; ++i) view.operatorView().appendMonitorText(std::string(40, tag) + "\r\n");
  };
  std::thread left(produce, 'L'), right(produce, 'R');
  std::thread other([&view] {
    view.operatorView().setStatusText("first");
    view.operatorView().setStatusText("second");
    view.operatorView().setTitle("title");
    view.operatorView().userListChanged();
    view.operatorView().showMessage("text", "caption", server::MessageIcon::Warning);
  });
  left.join();
  right.join();
  other.join();
  QTRY_COMPARE_WITH_TIMEOUT(pane.characterCount(), 2 * kLines * 41, 5000);
  // Every line arrives whole: no append was cut by another.
  for (const QString& line : pane.toPlainText().split('\n', Qt::SkipEmptyParts))
    QVERIFY2(line == QString(40, 'L') || line == QString(40, 'R'), qPrintable(line));
  QTRY_COMPARE_WITH_TIMEOUT(messages.count(), 1, 5000);
  QCOMPARE(statuses, QStringList({"first", "second"}));
  QVERIFY(!off_thread);
  QCOMPARE(titles.count(), 1);
  QCOMPARE(users.count(), 1);
  QCOMPARE(messages.front().at(2).toInt(), static_cast<int>(server::MessageIcon::Warning));
}

void ConsolePiecesTest::trayTip() {
  // The noun carries its own leading blank, as the tip text has always had it.
  QCOMPARE(TrayTipText("Talvek FTP", false, 3), QString("Talvek FTP\r\nNot Active"));
  QCOMPARE(TrayTipText("Talvek FTP", true, 0), QString("Talvek FTP\r\nActive - 0  connections"));
  QCOMPARE(TrayTipText("Talvek FTP", true, 1), QString("Talvek FTP\r\nActive - 1  connection"));
  QCOMPARE(TrayTipText("Talvek FTP", true, 2), QString("Talvek FTP\r\nActive - 2  connections"));
  QCOMPARE(TrayTipText("T", true, -1), QString("T\r\nActive - -1  connections"));
}

void ConsolePiecesTest::trayMenuOrder() {
  TrayCommands commands;
  QMenu menu;
  FillTrayMenu(menu, {true, true}, commands);
  QCOMPARE(Labels(menu),
           QStringList({"Deactivate", "", "Configure...", "Accounts...", "IP Filtering...", "", "Open", "Exit"}));
  QCOMPARE(menu.defaultAction()->text(), QString("Deactivate"));
  // Built anew: no items left over from the last showing.
  FillTrayMenu(menu, {false, false}, commands);
  QCOMPARE(Labels(menu), QStringList({"Activate", "", "Configure...", "Accounts...", "IP Filtering...", "", "Exit"}));
  QSignalSpy exits(&commands, &TrayCommands::exitRequested);
  QSignalSpy toggles(&commands, &TrayCommands::toggleRequested);
  menu.actions().back()->trigger();
  menu.actions().front()->trigger();
  QCOMPARE(exits.count(), 1);
  QCOMPARE(toggles.count(), 1);
}

void ConsolePiecesTest::rectanglesPackAndRefuseDamage() {
  const QRect rect(-30, 20, 640, 480);
  std::vector<uint8_t> bytes = PackRect(rect);
  QCOMPARE(bytes.size(), size_t{16});
  const std::vector<uint8_t> expected{0xe2, 0xff, 0xff, 0xff, 20, 0, 0, 0, 0x62, 0x02, 0, 0, 0xf4, 0x01, 0, 0};
  QCOMPARE(bytes, expected);  // -30, 20, 610, 500
  QCOMPARE(UnpackRect(bytes).value_or(QRect()), rect);
  QVERIFY(!UnpackRect(std::vector<uint8_t>(15, 0)));
  QVERIFY(!UnpackRect(std::vector<uint8_t>(17, 0)));
  QVERIFY(!UnpackRect(std::vector<uint8_t>(16, 0)));  // empty
  std::vector<uint8_t> huge = PackRect(QRect(0, 0, 100, 100));
  huge[11] = 0x7f;  // right = 2^31 - something
  QVERIFY(!UnpackRect(huge));
}

void ConsolePiecesTest::reachableRectangles() {
  const QList<QRect> screens{QRect(0, 0, 800, 600), QRect(800, 0, 1024, 768)};
  QVERIFY(ReachableOnScreens(QRect(10, 10, 300, 200), screens));
  QVERIFY(ReachableOnScreens(QRect(1500, 500, 600, 600), screens));
  QVERIFY(ReachableOnScreens(QRect(-260, -160, 300, 200), screens));  // 40 x 40 still showing
  QVERIFY(!ReachableOnScreens(QRect(-270, -160, 300, 200), screens));
  QVERIFY(!ReachableOnScreens(QRect(5000, 5000, 300, 200), screens));
  QVERIFY(!ReachableOnScreens(QRect(10, 10, 300, 200), {}));
}

void ConsolePiecesTest::fontAndColourRoundTrip() {
  QFont font("DejaVu Sans Mono");
  font.setPixelSize(15);
  font.setWeight(QFont::Bold);
  font.setItalic(true);
  std::vector<uint8_t> bytes = PackFont(font);
  QCOMPARE(bytes.size(), size_t{60});
  QCOMPARE(bytes[0], uint8_t{0xf1});  // -15: the character height
  QCOMPARE(bytes[16], uint8_t{700 & 0xff});
  auto back = UnpackFont(bytes);
  QVERIFY(back);
  QCOMPARE(back->family(), QString("DejaVu Sans Mono"));
  QCOMPARE(back->pixelSize(), 15);
  QCOMPARE(back->weight(), QFont::Bold);
  QVERIFY(back->italic());
  QVERIFY(!back->underline());
  QVERIFY(!UnpackFont(std::vector<uint8_t>(59, 0)));
  // A face name without its NUL stops at the record's end.
  std::vector<uint8_t> unterminated(60, 'A');
  std::fill(unterminated.begin(), unterminated.begin() + 28, 0);
  QCOMPARE(UnpackFont(unterminated).value_or(QFont()).family(), QString(32, 'A'));

  QCOMPARE(RefFromColor(QColor(0x11, 0x22, 0x33)), 0x00332211u);
  QCOMPARE(ColorFromRef(0x00332211u), QColor(0x11, 0x22, 0x33));
  QCOMPARE(ColorFromRef(0xff000000u), QColor(0, 0, 0));  // the top byte is not a colour

  test::TempDir dir;
  settings::RegistryStore store(dir.path() / "s.reg");
  MonitorLook missing = ReadMonitorLook(store);
  QCOMPARE(missing.color, QColor(Qt::black));
  WriteMonitorLook(store, {font, QColor(0, 128, 255)});
  MonitorLook read = ReadMonitorLook(store);
  QCOMPARE(read.font.pixelSize(), 15);
  QCOMPARE(read.color, QColor(0, 128, 255));
  QCOMPARE(store.getBinary(settings::kSettingsKey, kFontColorValue).value_or(std::vector<uint8_t>{}),
           (std::vector<uint8_t>{0, 128, 255, 0}));
}

void ConsolePiecesTest::timerPeriods() {
  using std::chrono::milliseconds;
  settings::Settings s;
  TimerPeriods off = PeriodsFor(s);
  QVERIFY(!off.idle_sweep && !off.directory_clear && !off.file_clear);

  s.general.timeoutIdle = 1;
  s.general.timeoutMinutes = 10;
  s.cache.autoRefreshDirs = 1;
  s.cache.dirRefreshMinutes = 60;
  s.cache.autoRefreshFiles = 1;
  s.cache.fileRefreshMinutes = 240;
  TimerPeriods on = PeriodsFor(s);
  QCOMPARE(on.idle_sweep.value_or(milliseconds(0)), milliseconds(300000));  // half the time-out
  QCOMPARE(on.directory_clear.value_or(milliseconds(0)), milliseconds(3600000));
  QCOMPARE(on.file_clear.value_or(milliseconds(0)), milliseconds(14400000));

  // 0 minutes must not make timers that fire without pause.
  s.general.timeoutMinutes = 0;
  s.cache.dirRefreshMinutes = 0;
  TimerPeriods zero = PeriodsFor(s);
  QCOMPARE(zero.idle_sweep.value_or(milliseconds(0)), milliseconds(30000));
  QVERIFY(!zero.directory_clear);

  // Beyond what a timer holds: the longest wait it can do.
  s.general.timeoutMinutes = 0xffffffffu;
  s.cache.fileRefreshMinutes = 0xffffffffu;
  TimerPeriods huge = PeriodsFor(s);
  QCOMPARE(huge.idle_sweep.value_or(milliseconds(0)), milliseconds(INT_MAX));
  QCOMPARE(huge.file_clear.value_or(milliseconds(0)), milliseconds(INT_MAX));
}

void ConsolePiecesTest::helpLookup() {
  test::TempDir dir;
  QVERIFY(!FindHelpFile(dir.path()));
  dir.write("README.md", "# help\n");
  QCOMPARE(FindHelpFile(dir.path()).value_or(""), dir.path() / "README.md");
  std::filesystem::create_directories(dir.path() / "docs");
  dir.write("docs/index.html", "<html></html>");
  QCOMPARE(FindHelpFile(dir.path()).value_or(""), dir.path() / "docs" / "index.html");
  std::filesystem::create_directories(dir.path() / "talvek-ftp.html");  // a directory is not a help file
  std::filesystem::remove(dir.path() / "docs" / "index.html");
  QCOMPARE(FindHelpFile(dir.path()).value_or(""), dir.path() / "README.md");
}

QTEST_MAIN(ConsolePiecesTest)
#include "console_pieces_test.moc"
