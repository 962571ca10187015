// The "Paths" page of the configuration sheet: FTP root, default uploads
// directory, accounts file, log file and logon message file.
#pragma once

#include <QWidget>

#include "settings/settings.h"

class QCheckBox;
class QLineEdit;

namespace talvek::console {

class DialogPrompts;

class PathsPage : public QWidget {
  Q_OBJECT
 public:
  PathsPage(DialogPrompts& prompts, QWidget* parent);
  void load(const settings::Settings& settings);
  // Copies the page back; both directories get a trailing "/".
  void store(settings::Settings& settings) const;

 private:
  void browseFolder(QLineEdit* field, const QString& title);

  DialogPrompts& prompts_;
  QLineEdit* root_;
  QLineEdit* uploads_;
  QLineEdit* accounts_;
  QCheckBox* record_log_;
  QLineEdit* log_;
  QCheckBox* send_message_;
  QLineEdit* message_;
};

}  // namespace talvek::console
