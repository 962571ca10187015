// The statistics bar's graph of the outgoing data rate: one sample per
// second, newest at the right. It draws a history it is handed; the bar
// owns the sampler.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include <QColor>
#include <QWidget>

#include "transfer/statistics.h"

namespace talvek::console {

using SampleHistory = std::array<uint32_t, transfer::RateSampler::kSamples>;

// How a history fits a width: `step` pixels between samples, the first
// `drawn` samples shown, and the vertical maximum among them (at least 1).
struct GraphRange {
  int step = 1;
  int drawn = 0;
  uint32_t vertical_max = 1;
};

// step = ceil(width / 180), 1 when that is 0; drawn = width / step - 1,
// never below 0 or above the history.
GraphRange ComputeGraphRange(int width, std::span<const uint32_t> samples);

class StatisticsGraph : public QWidget {
  Q_OBJECT

 public:
  explicit StatisticsGraph(QWidget* parent = nullptr);

  void setHistory(const SampleHistory& samples);
  void setColors(const QColor& background, const QColor& foreground);
  QColor background() const { return background_; }
  QColor foreground() const { return foreground_; }
  // The vertical maximum in use: it only grows until reset.
  uint32_t verticalMax() const { return vertical_max_; }

  QSize sizeHint() const override { return {200, 80}; }

 public slots:
  // Takes the vertical maximum afresh from the samples now shown.
  void resetRange();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  SampleHistory samples_{};
  uint32_t vertical_max_ = 1;
  QColor background_ = Qt::white;
  QColor foreground_ = Qt::black;
};

}  // namespace talvek::console
