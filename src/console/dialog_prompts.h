// How the console's dialogs tell the operator something, ask OK/Cancel, and
// let the operator pick files and folders. Dialogs hold a reference to one;
// the caller owns it. Tests substitute a scripted one so nothing blocks.
#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

namespace talvek::console {

class DialogPrompts {
 public:
  virtual ~DialogPrompts() = default;
  virtual void inform(QWidget* parent, const QString& text, const QString& caption, QMessageBox::Icon icon) = 0;
  // True for OK, false for Cancel.
  virtual bool confirm(QWidget* parent, const QString& text, const QString& caption) = 0;
  // An empty result means the operator chose nothing.
  virtual QString chooseFolder(QWidget* parent, const QString& title, const QString& start) = 0;
  virtual QString chooseOpenFile(QWidget* parent, const QString& filter, const QString& start) = 0;
  // Asks before overwriting an existing file; `suffix` is added when none is typed.
  virtual QString chooseSaveFile(QWidget* parent, const QString& filter, const QString& suffix,
                                 const QString& start) = 0;
};

// The real thing: message boxes and the platform's file dialogs.
class MessageBoxPrompts : public DialogPrompts {
 public:
  void inform(QWidget* parent, const QString& text, const QString& caption, QMessageBox::Icon icon) override;
  bool confirm(QWidget* parent, const QString& text, const QString& caption) override;
  QString chooseFolder(QWidget* parent, const QString& title, const QString& start) override;
  QString chooseOpenFile(QWidget* parent, const QString& filter, const QString& start) override;
  QString chooseSaveFile(QWidget* parent, const QString& filter, const QString& suffix,
                         const QString& start) override;
};

// A process-wide MessageBoxPrompts for the entry points.
DialogPrompts& DefaultPrompts();

// The caption of the console's own message boxes.
inline const QString kConsoleCaption = QStringLiteral("Talvek FTP");

}  // namespace talvek::console
