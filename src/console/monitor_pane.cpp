#include "console/monitor_pane.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace talvek::console {

MonitorPane::MonitorPane(QWidget* parent) : QPlainTextEdit(parent) {
  setReadOnly(true);
  setUndoRedoEnabled(false);
  setLineWrapMode(QPlainTextEdit::WidgetWidth);
  setObjectName("monitorPane");
}

int MonitorPane::characterCount() const {
  // The document counts one closing paragraph mark that holds no text.
  return document()->characterCount() - 1;
}

void MonitorPane::setMonitorFont(const QFont& font, const QColor& color) {
  setFont(font);
  QPalette colors = palette();
  colors.setColor(QPalette::Text, color);
  setPalette(colors);
}

void MonitorPane::appendMonitorText(const QString& text) {
  if (text.isEmpty()) return;
  if (characterCount() >= kTrimThreshold) {
    QTextCursor head(document());
    head.setPosition(0);
    head.setPosition(kTrimCount, QTextCursor::KeepAnchor);
    head.removeSelectedText();
  }
  // Server texts end their lines with CR LF; the pane keeps one mark per line.
  QString lines = text;
  lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QTextCursor end(document());
  end.movePosition(QTextCursor::End);
  end.insertText(lines);
  // Follow the newest text unless the operator scrolled back to read.
  if (!verticalScrollBar()->isSliderDown()) verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

}  // namespace talvek::console
