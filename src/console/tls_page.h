// The "TLS" page: whether clients may or must use explicit FTPS, the
// certificate and key files, the session-reuse guard of data connections,
// and the fingerprint of the certificate in force (read only).
#pragma once

#include <string>

#include <QWidget>

#include "settings/settings.h"

class QCheckBox;
class QLineEdit;
class QRadioButton;

namespace talvek::console {

class DialogPrompts;

class TlsPage : public QWidget {
  Q_OBJECT
 public:
  TlsPage(DialogPrompts& prompts, QWidget* parent);
  // `fingerprint`: the SHA-256 fingerprint in force, "" while TLS is off.
  void load(const settings::TlsSettings& tls, const std::string& fingerprint);
  // False, with a message, for a path that is not absolute, or only one of the two set.
  bool validate();
  void store(settings::TlsSettings& tls) const;

 private:
  DialogPrompts& prompts_;
  QRadioButton* off_;
  QRadioButton* allowed_;
  QRadioButton* required_;
  QLineEdit* certificate_;
  QLineEdit* key_;
  QCheckBox* require_reuse_;
  QLineEdit* fingerprint_;
};

}  // namespace talvek::console
