// The statistics graph's range arithmetic, its sticky vertical range, and
// the statistics bar sampling a real server.
#include <QPlainTextEdit>
#include <QSlider>
#include <QtTest>

#include "console/console_settings.h"
#include "console/graph_colors_dialog.h"
#include "console/statistics_bar.h"
#include "console/statistics_graph.h"
#include "console/support/qt_server_fixture.h"

using namespace talvek;
using namespace talvek::console;

class StatisticsGraphTest : public QObject {
  Q_OBJECT

 private slots:
  void rangeAtTheEdgesOfWidth_data();
  void rangeAtTheEdgesOfWidth();
  void verticalMaxCountsOnlyDrawnSamples();
  void rangeGrowsUntilReset();
  void barSamplesTheServer();
  void showingStartsOverAndHidingStopsSampling();
  void coloursReachGraphAndSettings();
  void colourDialogReadsItsSliders();
};

void StatisticsGraphTest::rangeAtTheEdgesOfWidth_data() {
  QTest::addColumn<int>("width");
  QTest::addColumn<int>("step");
  QTest::addColumn<int>("drawn");
  QTest::newRow("0 (would be -1 samples)") << 0 << 1 << 0;
  QTest::newRow("negative") << -5 << 1 << 0;
  QTest::newRow("1") << 1 << 1 << 0;
  QTest::newRow("2") << 2 << 1 << 1;
  QTest::newRow("180") << 180 << 1 << 179;
  QTest::newRow("181") << 181 << 2 << 89;
  QTest::newRow("360") << 360 << 2 << 179;
  QTest::newRow("1000") << 1000 << 6 << 165;
}

void StatisticsGraphTest::rangeAtTheEdgesOfWidth() {
  QFETCH(int, width);
  QFETCH(int, step);
  QFETCH(int, drawn);
  SampleHistory samples{};
  GraphRange range = ComputeGraphRange(width, samples);
  QCOMPARE(range.step, step);
  QCOMPARE(range.drawn, drawn);
  QCOMPARE(range.vertical_max, 1u);  // all zero: still 1, never a division by 0
}

void StatisticsGraphTest::verticalMaxCountsOnlyDrawnSamples() {
  SampleHistory samples{};
  samples[0] = 7;
  samples[88] = 300;   // the last sample drawn at width 181
  samples[89] = 900;   // first one left out at width 181
  samples[178] = 5000;  // the last drawn at width 180
  samples[180] = 99999;  // never drawn: 179 at most
  QCOMPARE(ComputeGraphRange(181, samples).vertical_max, 300u);
  QCOMPARE(ComputeGraphRange(180, samples).vertical_max, 5000u);
  QCOMPARE(ComputeGraphRange(2, samples).vertical_max, 7u);
  QCOMPARE(ComputeGraphRange(1000, samples).vertical_max, 900u);  // 165 drawn
  std::array<uint32_t, 3> short_history{4, 8, 2};
  GraphRange short_range = ComputeGraphRange(1000, short_history);
  QCOMPARE(short_range.drawn, 3);
  QCOMPARE(short_range.vertical_max, 8u);
}

void StatisticsGraphTest::rangeGrowsUntilReset() {
  StatisticsGraph graph;
  graph.resize(180, 60);
  SampleHistory samples{};
  samples[0] = 1000;
  graph.setHistory(samples);
  QCOMPARE(graph.verticalMax(), 1000u);
  samples[0] = 10;
  samples[1] = 1000;
  graph.setHistory(samples);
  samples = SampleHistory{};
  samples[0] = 20;
  graph.setHistory(samples);
  QCOMPARE(graph.verticalMax(), 1000u);  // sticky while the peak scrolls out
  graph.resetRange();
  QCOMPARE(graph.verticalMax(), 20u);
}

void StatisticsGraphTest::barSamplesTheServer() {
  test::QtServerFixture fixture;
  StatisticsBar bar(fixture.server());
  bar.resize(500, 120);
  bar.show();
  QVERIFY(bar.sampling());
  QVERIFY(bar.textPane().toPlainText().startsWith("MB transmitted:\t0.00\nMB received:\t0.00\n"));

  fixture.server().bytes_sent += 1048576;
  fixture.server().bytes_received += 2 * 1048576;
  bar.sampleNow();
  QString text = bar.textPane().toPlainText();
  QVERIFY2(text.contains("MB transmitted:\t1.00"), qPrintable(text));
  QVERIFY2(text.contains("MB received:\t2.00"), qPrintable(text));
  QVERIFY2(text.contains("Max Bytes\\sec:\t1\n"), qPrintable(text));  // as it was before the sample

  bar.sampleNow();
  text = bar.textPane().toPlainText();
  QVERIFY2(text.contains("Max Bytes\\sec:\t1048576\n"), qPrintable(text));
  QCOMPARE(bar.graph().verticalMax(), 1048576u);

  // Received bytes leave the rate alone.
  fixture.server().bytes_received += 5000;
  bar.sampleNow();
  bar.resetGraphRange();
  QCOMPARE(bar.graph().verticalMax(), 1048576u);  // still shown two samples back
}

void StatisticsGraphTest::showingStartsOverAndHidingStopsSampling() {
  test::QtServerFixture fixture;
  StatisticsBar bar(fixture.server());
  bar.resize(400, 100);
  bar.show();
  fixture.server().bytes_sent += 4096;
  bar.sampleNow();
  QCOMPARE(bar.graph().verticalMax(), 4096u);
  bar.hide();
  QVERIFY(!bar.sampling());
  fixture.server().bytes_sent += 777;  // sent while hidden: not a sample
  bar.show();
  QVERIFY(bar.sampling());
  QCOMPARE(bar.graph().verticalMax(), 1u);
  bar.sampleNow();
  QCOMPARE(bar.graph().verticalMax(), 1u);
}

void StatisticsGraphTest::coloursReachGraphAndSettings() {
  test::QtServerFixture fixture([](settings::Settings& s) {
    s.graphBkColor = 0x00332211;
    s.graphForeColor = 0x000000ff;
  });
  StatisticsBar bar(fixture.server());
  QCOMPARE(bar.graph().background(), QColor(0x11, 0x22, 0x33));
  QCOMPARE(bar.graph().foreground(), QColor(255, 0, 0));
  bar.applyColors(QColor(1, 2, 3), QColor(250, 251, 252));
  QCOMPARE(bar.graph().background(), QColor(1, 2, 3));
  QCOMPARE(fixture.server().settings().graphBkColor, 0x00030201u);
  QCOMPARE(fixture.server().settings().graphForeColor, 0x00fcfbfau);
}

void StatisticsGraphTest::colourDialogReadsItsSliders() {
  GraphColorsDialog dialog(QColor(10, 20, 30), QColor(40, 50, 60));
  QCOMPARE(dialog.background(), QColor(10, 20, 30));
  QCOMPARE(dialog.foreground(), QColor(40, 50, 60));
  auto* green = dialog.findChild<QSlider*>("ForegroundGreen");
  QVERIFY(green);
  green->setValue(255);
  QCOMPARE(dialog.foreground(), QColor(40, 255, 60));
  QCOMPARE(dialog.background(), QColor(10, 20, 30));
}

QTEST_MAIN(StatisticsGraphTest)
#include "statistics_graph_test.moc"
