// "Graph Colors": red, green and blue sliders for the graph's background
// and foreground, with a swatch of each. Owned by whoever opens it.
#pragma once

#include <array>

#include <QColor>
#include <QDialog>

class QSlider;
class QLabel;

namespace talvek::console {

class GraphColorsDialog : public QDialog {
  Q_OBJECT

 public:
  GraphColorsDialog(const QColor& background, const QColor& foreground, QWidget* parent = nullptr);

  QColor background() const;
  QColor foreground() const;

 private:
  struct ColorGroup {
    std::array<QSlider*, 3> sliders{};  // red, green, blue
    QLabel* swatch = nullptr;
  };
  QWidget* makeGroup(const QString& title, const QColor& start, ColorGroup& group);
  static QColor colorOf(const ColorGroup& group);
  static void paintSwatch(const ColorGroup& group);

  ColorGroup background_;
  ColorGroup foreground_;
};

}  // namespace talvek::console
