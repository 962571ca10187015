#include "console/paths_page.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "console/dialog_prompts.h"
#include "console/page_fields.h"

namespace talvek::console {

namespace {
const QString kTextFiles = QStringLiteral("Text Files (*.txt)");
const QString kAccountFiles = QStringLiteral("LGN Files (*.lgn)");

QLineEdit* MakeEdit(QWidget* parent, const char* name) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QLatin1String(name));
  return edit;
}
}  // namespace

PathsPage::PathsPage(DialogPrompts& prompts, QWidget* parent)
    : QWidget(parent),
      prompts_(prompts),
      root_(MakeEdit(this, "ftpRootEdit")),
      uploads_(MakeEdit(this, "uploadsEdit")),
      accounts_(MakeEdit(this, "accountsFileEdit")),
      record_log_(new QCheckBox(QStringLiteral("Record &log"), this)),
      log_(MakeEdit(this, "logPathEdit")),
      send_message_(new QCheckBox(QStringLiteral("Send logon &message"), this)),
      message_(MakeEdit(this, "messageFileEdit")) {
  record_log_->setObjectName(QStringLiteral("recordLogCheck"));
  send_message_->setObjectName(QStringLiteral("sendMessageCheck"));
  auto* grid = new QGridLayout(this);
  auto add_browse = [this](const QString& text, const char* name) {
    auto* button = new QPushButton(text, this);
    button->setObjectName(QLatin1String(name));
    return button;
  };
  QPushButton* root_browse = add_browse(QStringLiteral("&Browse..."), "ftpRootBrowse");
  QPushButton* uploads_browse = add_browse(QStringLiteral("Br&owse..."), "uploadsBrowse");
  QPushButton* accounts_browse = add_browse(QStringLiteral("Brow&se..."), "accountsFileBrowse");
  QPushButton* log_browse = add_browse(QStringLiteral("B&rowse..."), "logPathBrowse");
  QPushButton* message_browse = add_browse(QStringLiteral("Bro&wse..."), "messageFileBrowse");

  grid->addWidget(new QLabel(QStringLiteral("FTP root directory"), this), 0, 0, 1, 2);
  grid->addWidget(root_, 1, 0);
  grid->addWidget(root_browse, 1, 1);
  grid->addWidget(new QLabel(QStringLiteral("Default uploads directory"), this), 2, 0, 1, 2);
  grid->addWidget(uploads_, 3, 0);
  grid->addWidget(uploads_browse, 3, 1);
  grid->addWidget(new QLabel(QStringLiteral("Logon accounts file"), this), 4, 0, 1, 2);
  grid->addWidget(accounts_, 5, 0);
  grid->addWidget(accounts_browse, 5, 1);
  grid->addWidget(record_log_, 6, 0, 1, 2);
  grid->addWidget(log_, 7, 0);
  grid->addWidget(log_browse, 7, 1);
  grid->addWidget(send_message_, 8, 0, 1, 2);
  grid->addWidget(message_, 9, 0);
  grid->addWidget(message_browse, 9, 1);
  grid->setRowStretch(10, 1);

  connect(root_browse, &QPushButton::clicked, this,
          [this] { browseFolder(root_, QStringLiteral("FTP Root Directory:")); });
  connect(uploads_browse, &QPushButton::clicked, this,
          [this] { browseFolder(uploads_, QStringLiteral("Default Uploads Directory:")); });
  connect(accounts_browse, &QPushButton::clicked, this, [this] {
    QString chosen = prompts_.chooseOpenFile(this, kAccountFiles, accounts_->text());
    if (!chosen.isEmpty()) accounts_->setText(chosen);
  });
  connect(log_browse, &QPushButton::clicked, this, [this] {
    QString chosen = prompts_.chooseSaveFile(this, kTextFiles, QStringLiteral("txt"), log_->text());
    if (!chosen.isEmpty()) log_->setText(chosen);
  });
  connect(message_browse, &QPushButton::clicked, this, [this] {
    QString chosen = prompts_.chooseOpenFile(this, kTextFiles, message_->text());
    if (!chosen.isEmpty()) message_->setText(chosen);
  });
}

void PathsPage::browseFolder(QLineEdit* field, const QString& title) {
  QString chosen = prompts_.chooseFolder(this, title, field->text());
  if (!chosen.isEmpty()) field->setText(chosen);
}

void PathsPage::load(const settings::Settings& settings) {
  root_->setText(ToQString(settings.ftpRootDir));
  uploads_->setText(ToQString(settings.uploadsDir));
  accounts_->setText(ToQString(settings.logonFile));
  record_log_->setChecked(settings.enableLog != 0);
  log_->setText(ToQString(settings.logPath));
  send_message_->setChecked(settings.sendLogonMsg != 0);
  message_->setText(ToQString(settings.msgFilePath));
}

void PathsPage::store(settings::Settings& settings) const {
  settings.ftpRootDir = settings::WithTrailingSlash(ToStdString(root_->text()));
  settings.uploadsDir = settings::WithTrailingSlash(ToStdString(uploads_->text()));
  settings.logonFile = ToStdString(accounts_->text());
  settings.enableLog = record_log_->isChecked() ? 1 : 0;
  settings.logPath = ToStdString(log_->text());
  settings.sendLogonMsg = send_message_->isChecked() ? 1 : 0;
  settings.msgFilePath = ToStdString(message_->text());
}

}  // namespace talvek::console
