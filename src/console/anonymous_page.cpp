#include "console/anonymous_page.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "accounts/account_store.h"
#include "console/dialog_prompts.h"
#include "console/page_fields.h"

namespace talvek::console {

namespace {
// The block keeps the root NUL-terminated in 263 bytes.
constexpr int kMaxRootLength = 262;
}  // namespace

AnonymousPage::AnonymousPage(DialogPrompts& prompts, QWidget* parent)
    : QWidget(parent),
      prompts_(prompts),
      allow_(new QCheckBox(QStringLiteral("&Allow Anonymous Logon"), this)),
      read_(new QCheckBox(QStringLiteral("&Read Permission"), this)),
      write_(new QCheckBox(QStringLiteral("&Write Permission"), this)),
      delete_(new QCheckBox(QStringLiteral("&Delete Permission"), this)),
      root_(new QLineEdit(this)) {
  allow_->setObjectName(QStringLiteral("allowAnonymousCheck"));
  read_->setObjectName(QStringLiteral("anonymousReadCheck"));
  write_->setObjectName(QStringLiteral("anonymousWriteCheck"));
  delete_->setObjectName(QStringLiteral("anonymousDeleteCheck"));
  root_->setObjectName(QStringLiteral("anonymousRootEdit"));

  auto* rights = new QGroupBox(QStringLiteral("Anonymous access rights"), this);
  auto* rights_layout = new QVBoxLayout(rights);
  rights_layout->addWidget(read_);
  rights_layout->addWidget(write_);
  rights_layout->addWidget(delete_);

  auto* browse = new QPushButton(QStringLiteral("&Browse..."), this);
  browse->setObjectName(QStringLiteral("anonymousRootBrowse"));
  auto* root_row = new QHBoxLayout;
  root_row->addWidget(root_);
  root_row->addWidget(browse);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(allow_);
  layout->addWidget(rights);
  layout->addWidget(new QLabel(QStringLiteral("Root directory for anonymous users"), this));
  layout->addLayout(root_row);
  layout->addStretch(1);

  connect(browse, &QPushButton::clicked, this, [this] {
    QString chosen = prompts_.chooseFolder(this, QStringLiteral("Root Directory for Anonymous Access:"),
                                           ToQString(ftp_root_));
    if (!chosen.isEmpty()) root_->setText(chosen);
  });
}

void AnonymousPage::load(const settings::Settings& settings) {
  ftp_root_ = settings.ftpRootDir;
  const settings::AnonymousSettings& anonymous = settings.anonymous;
  allow_->setChecked(anonymous.allow != 0);
  read_->setChecked(anonymous.rights & accounts::kRead);
  write_->setChecked(anonymous.rights & accounts::kWrite);
  delete_->setChecked(anonymous.rights & accounts::kDelete);
  std::string root = anonymous.rootText();
  root_->setText(ToQString(root.empty() ? settings.ftpRootDir : root));
}

bool AnonymousPage::validate() {
  if (ToStdString(root_->text()).size() <= kMaxRootLength) return true;
  prompts_.inform(this, QStringLiteral("The root directory for anonymous users is longer than %1 characters.")
                            .arg(kMaxRootLength),
                  kConsoleCaption, QMessageBox::Warning);
  root_->setFocus();
  return false;
}

void AnonymousPage::store(settings::Settings& settings) const {
  settings::AnonymousSettings& anonymous = settings.anonymous;
  anonymous.allow = allow_->isChecked() ? 1 : 0;
  uint8_t rights = 0;
  if (read_->isChecked()) rights |= accounts::kRead;
  if (write_->isChecked()) rights |= accounts::kWrite;
  if (delete_->isChecked()) rights |= accounts::kDelete;
  anonymous.rights = rights;
  anonymous.setRootText(ToStdString(root_->text()));
}

}  // namespace talvek::console
