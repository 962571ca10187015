#include "console/dialog_prompts.h"

#include <QFileDialog>

namespace talvek::console {

void MessageBoxPrompts::inform(QWidget* parent, const QString& text, const QString& caption,
                               QMessageBox::Icon icon) {
  QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
  box.exec();
}

bool MessageBoxPrompts::confirm(QWidget* parent, const QString& text, const QString& caption) {
  QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Ok | QMessageBox::Cancel, parent);
  return box.exec() == QMessageBox::Ok;
}

QString MessageBoxPrompts::chooseFolder(QWidget* parent, const QString& title, const QString& start) {
  return QFileDialog::getExistingDirectory(parent, title, start);
}

QString MessageBoxPrompts::chooseOpenFile(QWidget* parent, const QString& filter, const QString& start) {
  return QFileDialog::getOpenFileName(parent, QString(), start, filter);
}

QString MessageBoxPrompts::chooseSaveFile(QWidget* parent, const QString& filter, const QString& suffix,
                                          const QString& start) {
  QFileDialog dialog(parent, QString(), start, filter);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(suffix);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front();
}

DialogPrompts& DefaultPrompts() {
  static MessageBoxPrompts prompts;
  return prompts;
}

}  // namespace talvek::console
