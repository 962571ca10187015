#include "console/account_dialog.h"

#include <algorithm>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "accounts/account_editing.h"
#include "console/dialog_prompts.h"
#include "console/page_fields.h"

namespace talvek::console {

namespace {
constexpr int kMaxNameLength = 63, kMaxPasswordLength = 63, kMaxDirectoryLength = 255;

QLineEdit* LimitedEdit(QWidget* parent, int limit, const char* name) {
  auto* edit = Named(new QLineEdit(parent), name);
  if (limit > 0) edit->setMaxLength(limit);
  return edit;
}

QLabel* BuddyLabel(const QString& text, QWidget* buddy, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setBuddy(buddy);
  return label;
}
}  // namespace

AccountDialog::AccountDialog(const QString& title, const accounts::AccountRecord& initial, std::string ftp_root,
                             DialogPrompts& prompts, QWidget* parent)
    : QDialog(parent),
      ftp_root_(std::move(ftp_root)),
      prompts_(prompts),
      name_(LimitedEdit(this, kMaxNameLength, "userNameEdit")),
      password_(LimitedEdit(this, kMaxPasswordLength, "passwordEdit")),
      read_(Named(new QCheckBox(QStringLiteral("&Read "), this), "readCheck")),
      write_(Named(new QCheckBox(QStringLiteral("&Write"), this), "writeCheck")),
      delete_(Named(new QCheckBox(QStringLiteral("&Delete "), this), "deleteCheck")),
      home_(LimitedEdit(this, kMaxDirectoryLength, "homeEdit")),
      uploads_(LimitedEdit(this, kMaxDirectoryLength, "uploadsEdit")),
      redirect_(Named(new QCheckBox(QStringLiteral("Redirect &Uploads"), this), "redirectCheck")),
      message_file_(LimitedEdit(this, 0, "messageFileEdit")),
      custom_message_(Named(new QCheckBox(QStringLiteral("Custom logon message"), this), "customMessageCheck")) {
  setWindowTitle(title);
  auto* permissions = new QGroupBox(QStringLiteral("Permissions"), this);
  auto* permission_layout = new QHBoxLayout(permissions);
  permission_layout->addWidget(read_);
  permission_layout->addWidget(write_);
  permission_layout->addWidget(delete_);

  auto* home_browse = Named(new QPushButton(QStringLiteral("&Browse..."), this), "homeBrowse");
  auto* uploads_browse = Named(new QPushButton(QStringLiteral("B&rowse..."), this), "uploadsBrowse");
  auto* message_browse = Named(new QPushButton(QStringLiteral("Brow&se..."), this), "messageFileBrowse");

  auto* grid = new QGridLayout;
  grid->addWidget(BuddyLabel(QStringLiteral("&User name:"), name_, this), 0, 0);
  grid->addWidget(name_, 0, 1, 1, 2);
  grid->addWidget(BuddyLabel(QStringLiteral("&Password:"), password_, this), 1, 0);
  grid->addWidget(password_, 1, 1, 1, 2);
  grid->addWidget(permissions, 2, 0, 1, 3);
  grid->addWidget(BuddyLabel(QStringLiteral("&Home Directory:"), home_, this), 3, 0);
  grid->addWidget(home_, 3, 1);
  grid->addWidget(home_browse, 3, 2);
  grid->addWidget(redirect_, 4, 0);
  grid->addWidget(uploads_, 4, 1);
  grid->addWidget(uploads_browse, 4, 2);
  grid->addWidget(custom_message_, 5, 0);
  grid->addWidget(message_file_, 5, 1);
  grid->addWidget(message_browse, 5, 2);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &AccountDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &AccountDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(buttons);

  connect(home_browse, &QPushButton::clicked, this, [this] {
    browseFolder(home_, QStringLiteral("Select user home directory:"), ToQString(ftp_root_));
  });
  connect(uploads_browse, &QPushButton::clicked, this, [this] {
    browseFolder(uploads_, QStringLiteral("Select user uploads directory:"), uploads_->text());
  });
  connect(message_browse, &QPushButton::clicked, this, [this] {
    QString chosen = prompts_.chooseOpenFile(this, QStringLiteral("Text Files (*.txt)"), message_file_->text());
    if (!chosen.isEmpty()) message_file_->setText(chosen);
  });

  name_->setText(ToQString(initial.name));
  password_->setText(ToQString(initial.password));
  read_->setChecked(initial.permissions & accounts::kRead);
  write_->setChecked(initial.permissions & accounts::kWrite);
  delete_->setChecked(initial.permissions & accounts::kDelete);
  home_->setText(ToQString(initial.homeDir));
  uploads_->setText(ToQString(initial.uploadsDir));
  redirect_->setChecked(initial.redirectUploads);
  message_file_->setText(ToQString(initial.logonMessageFile));
  custom_message_->setChecked(initial.customLogonMessage);
}

void AccountDialog::browseFolder(QLineEdit* field, const QString& title, const QString& start) {
  QString chosen = prompts_.chooseFolder(this, title, start);
  if (!chosen.isEmpty()) field->setText(chosen);
}

accounts::AccountRecord AccountDialog::record() const {
  accounts::AccountRecord record;
  record.name = ToStdString(name_->text());
  record.password = ToStdString(password_->text());
  if (read_->isChecked()) record.permissions |= accounts::kRead;
  if (write_->isChecked()) record.permissions |= accounts::kWrite;
  if (delete_->isChecked()) record.permissions |= accounts::kDelete;
  // A home of "<root>/../x" passes a text prefix test yet leaves the tree.
  record.homeDir = CleanDirectory(ToStdString(home_->text()));
  record.uploadsDir = CleanDirectory(ToStdString(uploads_->text()));
  record.redirectUploads = redirect_->isChecked();
  record.logonMessageFile = ToStdString(message_file_->text());
  record.customLogonMessage = custom_message_->isChecked();
  return record;
}

void AccountDialog::accept() {
  accounts::AccountRecord edited = record();
  std::string problem = accounts::ValidateAccount(edited, ftp_root_);
  // Logins find the first account of a name: a second one could never log in.
  if (problem.empty() && std::ranges::find(taken_names_, edited.name) != taken_names_.end())
    problem = "User name " + edited.name + " already exists.";
  if (!problem.empty()) {
    prompts_.inform(this, ToQString(problem), kConsoleCaption, QMessageBox::Warning);
    return;
  }
  QDialog::accept();
}

}  // namespace talvek::console
