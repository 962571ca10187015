#include "console/tls_page.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include "console/dialog_prompts.h"
#include "console/page_fields.h"

namespace talvek::console {

TlsPage::TlsPage(DialogPrompts& prompts, QWidget* parent)
    : QWidget(parent),
      prompts_(prompts),
      off_(Named(new QRadioButton(QStringLiteral("Off"), this), "tlsOffRadio")),
      allowed_(Named(new QRadioButton(QStringLiteral("Allowed (AUTH TLS)"), this), "tlsAllowedRadio")),
      required_(Named(new QRadioButton(QStringLiteral("Required for login and transfers"), this), "tlsRequiredRadio")),
      certificate_(Named(new QLineEdit(this), "tlsCertificateEdit")),
      key_(Named(new QLineEdit(this), "tlsKeyEdit")),
      require_reuse_(Named(new QCheckBox(QStringLiteral("Data connections must resume the control connection's "
                                                        "TLS session"),
                                         this),
                           "tlsReuseCheck")),
      fingerprint_(Named(new QLineEdit(this), "tlsFingerprintEdit")) {
  auto* mode_group = new QGroupBox(QStringLiteral("Explicit FTPS"), this);
  auto* mode_layout = new QVBoxLayout(mode_group);
  for (QRadioButton* button : {off_, allowed_, required_}) mode_layout->addWidget(button);
  mode_layout->addWidget(require_reuse_);

  auto* files_group =
      new QGroupBox(QStringLiteral("Certificate (both empty: a self-signed one beside the settings)"), this);
  auto* files_form = new QFormLayout(files_group);
  files_form->addRow(QStringLiteral("Certificate file"), certificate_);
  files_form->addRow(QStringLiteral("Key file"), key_);
  fingerprint_->setReadOnly(true);
  files_form->addRow(QStringLiteral("SHA-256 fingerprint"), fingerprint_);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(mode_group);
  layout->addWidget(files_group);
  layout->addWidget(new QLabel(QStringLiteral("Clients should see this fingerprint on first contact."), this));
  layout->addStretch();
}

void TlsPage::load(const settings::TlsSettings& tls, const std::string& fingerprint) {
  (tls.mode == 0 ? off_ : tls.mode == 2 ? required_ : allowed_)->setChecked(true);
  certificate_->setText(ToQString(tls.certificateFile));
  key_->setText(ToQString(tls.keyFile));
  require_reuse_->setChecked(tls.requireSessionReuse != 0);
  fingerprint_->setText(fingerprint.empty() ? QStringLiteral("(TLS is off)") : ToQString(fingerprint));
  fingerprint_->setCursorPosition(0);
}

bool TlsPage::validate() {
  settings::TlsSettings tls;
  store(tls);
  bool absolute = (tls.certificateFile.empty() || tls.certificateFile.front() == '/') &&
                  (tls.keyFile.empty() || tls.keyFile.front() == '/');
  if (absolute && tls.certificateFile.empty() == tls.keyFile.empty()) return true;
  prompts_.inform(this, QStringLiteral("Please enter absolute paths of both the certificate and the key, or neither."),
                  kConsoleCaption, QMessageBox::Warning);
  certificate_->setFocus();
  return false;
}

void TlsPage::store(settings::TlsSettings& tls) const {
  tls.mode = off_->isChecked() ? 0 : required_->isChecked() ? 2 : 1;
  tls.certificateFile = ToStdString(certificate_->text().trimmed());
  tls.keyFile = ToStdString(key_->text().trimmed());
  tls.requireSessionReuse = require_reuse_->isChecked() ? 1 : 0;
}

}  // namespace talvek::console
