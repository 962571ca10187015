#include "console/graph_colors_dialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QVBoxLayout>

namespace talvek::console {

GraphColorsDialog::GraphColorsDialog(const QColor& background, const QColor& foreground, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(tr("Graph Colors"));
  auto* layout = new QVBoxLayout(this);
  auto* groups = new QHBoxLayout;
  groups->addWidget(makeGroup(tr("Background"), background, background_));
  groups->addWidget(makeGroup(tr("Foreground"), foreground, foreground_));
  layout->addLayout(groups);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

QWidget* GraphColorsDialog::makeGroup(const QString& title, const QColor& start, ColorGroup& group) {
  auto* box = new QGroupBox(title, this);
  auto* grid = new QGridLayout(box);
  const std::array<QString, 3> names{tr("Red"), tr("Green"), tr("Blue")};
  const std::array<int, 3> values{start.red(), start.green(), start.blue()};
  for (int i = 0; i < 3; ++i) {
    auto* slider = new QSlider(Qt::Horizontal, box);
    slider->setRange(0, 255);
    slider->setValue(values[static_cast<size_t>(i)]);
    slider->setObjectName(title + names[static_cast<size_t>(i)]);
    grid->addWidget(new QLabel(names[static_cast<size_t>(i)], box), i, 0);
    grid->addWidget(slider, i, 1);
    group.sliders[static_cast<size_t>(i)] = slider;
    connect(slider, &QSlider::valueChanged, this, [&group] { paintSwatch(group); });
  }
  group.swatch = new QLabel(box);
  group.swatch->setMinimumSize(48, 24);
  group.swatch->setAutoFillBackground(true);
  grid->addWidget(group.swatch, 3, 0, 1, 2);
  paintSwatch(group);
  return box;
}

QColor GraphColorsDialog::colorOf(const ColorGroup& group) {
  return QColor(group.sliders[0]->value(), group.sliders[1]->value(), group.sliders[2]->value());
}

void GraphColorsDialog::paintSwatch(const ColorGroup& group) {
  QPalette colors = group.swatch->palette();
  colors.setColor(QPalette::Window, colorOf(group));
  group.swatch->setPalette(colors);
}

QColor GraphColorsDialog::background() const { return colorOf(background_); }
QColor GraphColorsDialog::foreground() const { return colorOf(foreground_); }

}  // namespace talvek::console
