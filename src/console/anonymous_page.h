// The "Anonymous FTP" page: the anonymous switch, its rights and its root.
#pragma once

#include <QWidget>

#include "settings/settings.h"

class QCheckBox;
class QLineEdit;

namespace talvek::console {

class DialogPrompts;

class AnonymousPage : public QWidget {
  Q_OBJECT
 public:
  AnonymousPage(DialogPrompts& prompts, QWidget* parent);
  // An empty anonymous root shows the FTP root instead.
  void load(const settings::Settings& settings);
  // False (with the reason shown) when the root does not fit its block.
  bool validate();
  void store(settings::Settings& settings) const;

 private:
  DialogPrompts& prompts_;
  QCheckBox* allow_;
  QCheckBox* read_;
  QCheckBox* write_;
  QCheckBox* delete_;
  QLineEdit* root_;
  std::string ftp_root_;
};

}  // namespace talvek::console
