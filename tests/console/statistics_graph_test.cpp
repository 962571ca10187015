// The statistics graph's range arithmetic at the edges of its width, its
// sticky vertical range, and the statistics bar sampling a real server.
#include <QPlainTextEdit>
#include <QtTest>

#include "console/statistics_bar.h"
#include "console/statistics_graph.h"
#include "console/support/dialog_fixture.h"

using namespace talvek;
using namespace talvek::console;

class StatisticsGraphTest : public QObject {
  Q_OBJECT

 private slots:
  void rangeAtTheEdgesOfWidth() {
    SampleHistory samples{};
    samples[0] = 7;
    samples[88] = 300;     // the last sample drawn at width 181
    samples[89] = 900;     // the first one left out at width 181
    samples[178] = 5000;   // the last drawn at width 180
    samples[180] = 99999;  // never drawn
    // width, step, samples drawn, vertical maximum (at least 1 over zeros)
    const std::vector<std::array<int, 4>> cases{{0, 1, 0, 1},       {-5, 1, 0, 1},   {1, 1, 0, 1},
                                                {2, 1, 1, 7},       {180, 1, 179, 5000}, {181, 2, 89, 300},
                                                {1000, 6, 165, 900}};
    for (const auto& [width, step, drawn, max] : cases) {
      GraphRange range = ComputeGraphRange(width, samples);
      QCOMPARE(range.step, step);
      QCOMPARE(range.drawn, drawn);
      QCOMPARE(range.vertical_max, uint32_t(max));
    }
    QCOMPARE(ComputeGraphRange(1000, std::array<uint32_t, 3>{4, 8, 2}).drawn, 3);
  }

  void rangeGrowsUntilReset() {
    StatisticsGraph graph;
    graph.resize(180, 60);
    SampleHistory samples{};
    samples[0] = 1000;
    graph.setHistory(samples);
    samples[0] = 20;
    graph.setHistory(samples);
    QCOMPARE(graph.verticalMax(), 1000u);  // sticky while the peak scrolls out
    graph.resetRange();
    QCOMPARE(graph.verticalMax(), 20u);
  }

  void barSamplesTheServerWhileShown() {
    test::DialogServer fixture([](settings::Settings& s, const test::DialogServer&) { s.graphBkColor = 0x00332211; });
    StatisticsBar bar(fixture.server());
    QCOMPARE(bar.graph().background(), QColor(0x11, 0x22, 0x33));
    bar.resize(500, 120);
    bar.show();
    QVERIFY(bar.sampling());
    fixture.server().bytes_sent += 1048576;
    fixture.server().bytes_received += 2 * 1048576;
    bar.sampleNow();
    bar.sampleNow();
    QString text = bar.textPane().toPlainText();
    QVERIFY2(text.startsWith("MB transmitted:\t1.00\nMB received:\t2.00\n"), qPrintable(text));
    QVERIFY2(text.contains("Max Bytes\\sec:\t1048576\n"), qPrintable(text));
    QCOMPARE(bar.graph().verticalMax(), 1048576u);

    bar.hide();
    QVERIFY(!bar.sampling());
    fixture.server().bytes_sent += 777;  // sent while hidden: not a sample
    bar.show();
    bar.sampleNow();
    QCOMPARE(bar.graph().verticalMax(), 1u);  // showing starts over
    bar.applyColors(QColor(1, 2, 3), QColor(250, 251, 252));
    QCOMPARE(fixture.server().settings().graphForeColor, 0x00fcfbfau);
  }
};

QTEST_MAIN(StatisticsGraphTest)
#include "statistics_graph_test.moc"
