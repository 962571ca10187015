// The "Add User" / "Modify User" dialog: one account's texts, permission
// bits and flags. OK applies the account rules (the home directory inside
// the FTP root among them) and stays open while they fail.
#pragma once

#include <string>
#include <vector>

#include <QDialog>

#include "accounts/account_store.h"

class QCheckBox;
class QLineEdit;

namespace talvek::console {

class DialogPrompts;

class AccountDialog : public QDialog {
  Q_OBJECT
 public:
  AccountDialog(const QString& title, const accounts::AccountRecord& initial, std::string ftp_root,
                DialogPrompts& prompts, QWidget* parent);
  // The record as edited; directories cleaned and ending in "/".
  accounts::AccountRecord record() const;
  // Names the edited account may not take (the other accounts, when modifying).
  void setTakenNames(std::vector<std::string> names) { taken_names_ = std::move(names); }
  void accept() override;

 private:
  void browseFolder(QLineEdit* field, const QString& title, const QString& start);

  std::string ftp_root_;
  std::vector<std::string> taken_names_;
  DialogPrompts& prompts_;
  QLineEdit* name_;
  QLineEdit* password_;
  QCheckBox* read_;
  QCheckBox* write_;
  QCheckBox* delete_;
  QLineEdit* home_;
  QLineEdit* uploads_;
  QCheckBox* redirect_;
  QLineEdit* message_file_;
  QCheckBox* custom_message_;
};

}  // namespace talvek::console
