// The monitor pane: a read-only running text of event lines and of the
// command exchange of monitored clients. It keeps at most about 64K
// characters by dropping the oldest 16K when that size is reached.
#pragma once

#include <QColor>
#include <QFont>
#include <QPlainTextEdit>

namespace talvek::console {

class MonitorPane : public QPlainTextEdit {
  Q_OBJECT

 public:
  static constexpr int kTrimThreshold = 65536;
  static constexpr int kTrimCount = 16384;

  explicit MonitorPane(QWidget* parent = nullptr);

  // Characters in the pane (a line end counts as one).
  int characterCount() const;
  void setMonitorFont(const QFont& font, const QColor& color);

 public slots:
  // Appends at the end, trimming first when the pane is full. Runs on the
  // user-interface thread only, so appends never interleave.
  void appendMonitorText(const QString& text);
};

}  // namespace talvek::console
