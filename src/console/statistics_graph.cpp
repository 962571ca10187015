#include "console/statistics_graph.h"

#include <algorithm>

#include <QPainter>
#include <QPainterPath>

namespace talvek::console {

namespace {
constexpr int kSpan = 180;
}

GraphRange ComputeGraphRange(int width, std::span<const uint32_t> samples) {
  GraphRange range;
  width = std::max(width, 0);
  range.step = std::max((width + kSpan - 1) / kSpan, 1);
  // A width of 0 would otherwise ask for -1 samples.
  range.drawn = std::clamp(width / range.step - 1, 0, static_cast<int>(samples.size()));
  for (int i = 0; i < range.drawn; ++i) range.vertical_max = std::max(range.vertical_max, samples[i]);
  return range;
}

StatisticsGraph::StatisticsGraph(QWidget* parent) : QWidget(parent) {
  setObjectName("statisticsGraph");
  setMinimumSize(60, 40);
}

void StatisticsGraph::setHistory(const SampleHistory& samples) {
  samples_ = samples;
  vertical_max_ = std::max(vertical_max_, ComputeGraphRange(width(), samples_).vertical_max);
  update();
}

void StatisticsGraph::setColors(const QColor& background, const QColor& foreground) {
  background_ = background;
  foreground_ = foreground;
  update();
}

void StatisticsGraph::resetRange() {
  vertical_max_ = ComputeGraphRange(width(), samples_).vertical_max;
  update();
}

void StatisticsGraph::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), background_);
  GraphRange range = ComputeGraphRange(width(), samples_);
  if (range.drawn < 2) return;
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(foreground_, 1.5));
  const double usable = std::max(height() - 2, 1);
  QPainterPath line;
  for (int i = 0; i < range.drawn; ++i) {
    double x = width() - 1 - i * range.step;
    double share = std::min(1.0, static_cast<double>(samples_[i]) / vertical_max_);
    double y = height() - 1 - share * usable;
    if (i == 0)
      line.moveTo(x, y);
    else
      line.lineTo(x, y);
  }
  painter.drawPath(line);
}

}  // namespace talvek::console
