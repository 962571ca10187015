#include "console/statistics_bar.h"

#include <QHBoxLayout>
#include <QMenu>
#include <QPlainTextEdit>
#include <QShowEvent>

#include "console/console_settings.h"
#include "console/graph_colors_dialog.h"
#include "console/qt_operator_view.h"
#include "console/statistics_graph.h"

namespace talvek::console {

StatisticsBar::StatisticsBar(server::Server& server, QWidget* parent)
    : QWidget(parent), server_(server), graph_(new StatisticsGraph(this)), text_(new QPlainTextEdit(this)) {
  setObjectName("statisticsBar");
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->addWidget(graph_, 3);
  layout->addWidget(text_, 2);
  text_->setReadOnly(true);
  text_->setObjectName("statisticsText");
  text_->setLineWrapMode(QPlainTextEdit::NoWrap);
  text_->setTabStopDistance(text_->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 21);
  text_->setMinimumWidth(220);
  for (QWidget* target : {static_cast<QWidget*>(this), static_cast<QWidget*>(graph_)}) {
    target->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(target, &QWidget::customContextMenuRequested, this,
            [this, target](const QPoint& where) { showContextMenu(target->mapTo(this, where)); });
  }
  timer_.setInterval(kSampleIntervalMs);
  connect(&timer_, &QTimer::timeout, this, &StatisticsBar::sampleNow);
  loadColors();
}

void StatisticsBar::loadColors() {
  auto current = server_.settings();
  graph_->setColors(ColorFromRef(current.graphBkColor), ColorFromRef(current.graphForeColor));
}

void StatisticsBar::setTextFont(const QFont& font) { text_->setFont(font); }

void StatisticsBar::sampleNow() {
  // The text shows the largest rate as it was before this sample.
  showFigures();
  sampler_.sample(server_.bytes_sent.load());
  graph_->setHistory(sampler_.samples());
}

void StatisticsBar::showFigures() {
  QString text = FromServerText(transfer::StatisticsText(transfer::CurrentFigures(server_, sampler_.maxRate())));
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text_->setPlainText(text);
}

void StatisticsBar::resetGraphRange() { graph_->resetRange(); }

void StatisticsBar::chooseColors() {
  GraphColorsDialog dialog(graph_->background(), graph_->foreground(), this);
  if (dialog.exec() == QDialog::Accepted) applyColors(dialog.background(), dialog.foreground());
}

void StatisticsBar::applyColors(const QColor& background, const QColor& foreground) {
  graph_->setColors(background, foreground);
  server_.updateSettings([&](settings::Settings& s) {
    s.graphBkColor = RefFromColor(background);
    s.graphForeColor = RefFromColor(foreground);
  });
}

void StatisticsBar::showContextMenu(const QPoint& where) {
  QMenu menu(this);
  menu.addAction(tr("Reset graph range"), this, &StatisticsBar::resetGraphRange);
  menu.addAction(tr("Graph Colors..."), this, &StatisticsBar::chooseColors);
  menu.exec(mapToGlobal(where));
}

void StatisticsBar::startOver() {
  sampler_.reset(server_.bytes_sent.load());
  graph_->setHistory(sampler_.samples());
  graph_->resetRange();
  showFigures();
  timer_.start();
}

// Minimising the window hides and shows spontaneously; only the operator
// showing or hiding the bar starts or stops the sampling.
void StatisticsBar::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!event->spontaneous() || !timer_.isActive()) startOver();
}

void StatisticsBar::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  if (!event->spontaneous()) timer_.stop();
}

}  // namespace talvek::console
