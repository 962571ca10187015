// The statistics bar: the graph of the outgoing rate beside the statistics
// text. While shown it samples the server once a second (timer 123); each
// showing starts a fresh history. It reads the server, never owns it.
#pragma once

#include <QTimer>
#include <QWidget>

#include "server/server.h"
#include "transfer/statistics.h"

class QPlainTextEdit;

namespace talvek::console {

class StatisticsGraph;

class StatisticsBar : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kSampleIntervalMs = 1000;

  StatisticsBar(server::Server& server, QWidget* parent = nullptr);

  StatisticsGraph& graph() { return *graph_; }
  QPlainTextEdit& textPane() { return *text_; }
  bool sampling() const { return timer_.isActive(); }
  // The graph colours from the server's settings.
  void loadColors();
  void setTextFont(const QFont& font);

 public slots:
  // What timer 123 does: the text with the figures now, then one sample.
  void sampleNow();
  void resetGraphRange();
  // Opens the colour dialog; on OK the graph and the settings take the colours.
  void chooseColors();
  void applyColors(const QColor& background, const QColor& foreground);

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void showContextMenu(const QPoint& where);
  void startOver();
  void showFigures();

  server::Server& server_;
  transfer::RateSampler sampler_;
  QTimer timer_;
  StatisticsGraph* graph_;
  QPlainTextEdit* text_;
};

}  // namespace talvek::console
