#include "console/accounts_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "accounts/account_editing.h"
#include "console/account_dialog.h"
#include "console/dialog_prompts.h"
#include "console/page_fields.h"
#include "server/server.h"

namespace talvek::console {

namespace {
const QString kExplanation = QStringLiteral(
    "This dialog is used to setup accounts for non-anonymous FTP users.\n"
    "Use the Configure dialog to configure anonymous FTP settings.");

QPushButton* Button(const QString& text, QWidget* parent, const char* name) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QLatin1String(name));
  button->setAutoDefault(false);
  return button;
}
}  // namespace

AccountsDialog::AccountsDialog(server::Server& server, DialogPrompts& prompts, QWidget* parent)
    : QDialog(parent),
      server_(server),
      prompts_(prompts),
      users_(new QListWidget(this)),
      remove_(Button(QStringLiteral("&Remove User"), this, "removeUserButton")),
      modify_(Button(QStringLiteral("&Modify"), this, "modifyButton")) {
  setWindowTitle(QString());
  users_->setObjectName(QStringLiteral("userList"));
  QPushButton* add = Button(QStringLiteral("&Add User"), this, "addUserButton");
  QPushButton* done = Button(QStringLiteral("Done"), this, "doneButton");
  QPushButton* cancel = Button(QStringLiteral("Cancel"), this, "cancelButton");

  auto* buttons = new QVBoxLayout;
  for (QPushButton* button : {add, remove_, modify_, done, cancel}) buttons->addWidget(button);
  buttons->addStretch(1);
  auto* list_column = new QVBoxLayout;
  auto* users_label = new QLabel(QStringLiteral("Users"), this);
  users_label->setBuddy(users_);
  list_column->addWidget(users_label);
  list_column->addWidget(users_);
  auto* row = new QHBoxLayout;
  row->addLayout(list_column, 1);
  row->addLayout(buttons);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addWidget(new QLabel(kExplanation, this));

  connect(add, &QPushButton::clicked, this, &AccountsDialog::addUser);
  connect(remove_, &QPushButton::clicked, this, &AccountsDialog::removeSelected);
  connect(modify_, &QPushButton::clicked, this, &AccountsDialog::modifySelected);
  connect(done, &QPushButton::clicked, this, &AccountsDialog::saveAndClose);
  connect(cancel, &QPushButton::clicked, this, &AccountsDialog::reject);
  connect(users_, &QListWidget::itemSelectionChanged, this, &AccountsDialog::updateButtons);
  connect(users_, &QListWidget::itemDoubleClicked, this, &AccountsDialog::modifySelected);
  base_ = server_.accounts().records();
  refill();
}

void AccountsDialog::refill() {
  users_->clear();
  for (const accounts::AccountRecord& record : server_.accounts().records()) users_->addItem(ToQString(record.name));
  updateButtons();
}

void AccountsDialog::updateButtons() {
  bool selected = selectedIndex() >= 0;
  remove_->setEnabled(selected);
  modify_->setEnabled(selected);
}

int AccountsDialog::selectedIndex() const {
  QList<QListWidgetItem*> selected = users_->selectedItems();
  return selected.isEmpty() ? -1 : users_->row(selected.front());
}

void AccountsDialog::addUser() {
  settings::Settings current = server_.settings();
  accounts::AccountRecord initial;
  initial.homeDir = current.ftpRootDir;
  initial.uploadsDir = current.uploadsDir;
  AccountDialog dialog(QStringLiteral("Add User"), initial, CleanDirectory(current.ftpRootDir), prompts_, this);
  if (dialog.exec() != QDialog::Accepted) return;
  accounts::AccountRecord record = dialog.record();
  accounts::AccountStore& store = server_.accounts();
  if (store.exists(record.name)) {
    QString question =
        QStringLiteral("User name %1 already exists. Overwrite existing account information?").arg(ToQString(record.name));
    if (!prompts_.confirm(this, question, kConsoleCaption)) return;
    accounts::AddAccount(store, record);
    modified_ = true;
    return;
  }
  accounts::AddAccount(store, record);
  users_->addItem(ToQString(record.name));
  modified_ = true;
}

void AccountsDialog::modifySelected() {
  int index = selectedIndex();
  std::vector<accounts::AccountRecord> records = server_.accounts().records();
  if (index < 0 || static_cast<size_t>(index) >= records.size()) return;
  std::string ftp_root = CleanDirectory(server_.settings().ftpRootDir);
  AccountDialog dialog(QStringLiteral("Modify User"), records[index], ftp_root, prompts_, this);
  std::vector<std::string> others;
  for (size_t i = 0; i < records.size(); ++i)
    if (i != static_cast<size_t>(index)) others.push_back(records[i].name);
  dialog.setTakenNames(std::move(others));
  if (dialog.exec() != QDialog::Accepted) return;
  server_.accounts().replaceAt(static_cast<size_t>(index), dialog.record());
  refill();
  modified_ = true;
}

void AccountsDialog::removeSelected() {
  int index = selectedIndex();
  if (index < 0) return;
  server_.accounts().removeAt(static_cast<size_t>(index));
  refill();
  modified_ = true;
}

bool AccountsDialog::save() {
  // The file the next start reads, which is also the one Cancel reloads.
  std::string logon_file = server_.settings().logonFile;
  if (logon_file.empty()) {
    prompts_.inform(this,
                    QStringLiteral("No logon accounts file is set, so the accounts cannot be saved. Set one "
                                   "on the Paths page of Configure Server first."),
                    kConsoleCaption, QMessageBox::Warning);
    return false;
  }
  // The edits go onto the file as it is now, so that accounts changed
  // elsewhere meanwhile (the daemon's command line) are kept.
  std::vector<accounts::AccountRecord> mine = server_.accounts().records();
  std::string conflict;
  accounts::FileEdit edit =
      accounts::EditAccountsFile(logon_file, server_.keyText(), [&](std::vector<accounts::AccountRecord>& records) {
        auto merged = accounts::MergeAccounts(base_, mine, records, conflict);
        if (!merged) return "The account " + conflict + " was changed in the accounts file while this dialog was open.";
        records = std::move(*merged);
        return std::string();
      });
  if (edit.status == accounts::FileEdit::Saved) {
    server_.accounts().replaceAll(std::move(edit.records));
    return true;
  }
  QString problem = ToQString(accounts::FileEditProblem(edit, logon_file));
  if (edit.status == accounts::FileEdit::Refused) {
    server_.reloadAccounts();
    base_ = server_.accounts().records();
    modified_ = false;
    refill();
    problem += QStringLiteral(" Nothing was saved; the list now shows the file as it is. Make your changes again.");
  }
  prompts_.inform(this, problem, kConsoleCaption, QMessageBox::Warning);
  return false;
}

void AccountsDialog::saveAndClose() {
  if (modified_ && !save()) return;
  modified_ = false;
  QDialog::accept();
}

void AccountsDialog::reject() {
  modified_ = false;
  server_.reloadAccounts();
  QDialog::reject();
}

void ShowAccountsDialog(server::Server& server, QWidget* parent) {
  AccountsDialog dialog(server, DefaultPrompts(), parent);
  dialog.exec();
}

}  // namespace talvek::console
