// The accounts dialog: the named accounts of the live account store, with
// add, modify and remove. "Done" applies the changes to the accounts file as
// it is on disk (refusing when an account it changed was changed there too);
// "Cancel" (and closing the window) reloads the store from it.
#pragma once

#include <QDialog>

#include <vector>

#include "accounts/account_store.h"

class QListWidget;
class QPushButton;

namespace talvek::server {
class Server;
}

namespace talvek::console {

class DialogPrompts;

class AccountsDialog : public QDialog {
  Q_OBJECT
 public:
  AccountsDialog(server::Server& server, DialogPrompts& prompts, QWidget* parent);
  bool modified() const { return modified_; }

  void addUser();
  void modifySelected();
  void removeSelected();
  // "Done": saves when modified; stays open when the file cannot be written.
  void saveAndClose();
  // Throws the edits away by reloading the accounts file.
  void reject() override;

 private:
  void refill();
  void updateButtons();
  int selectedIndex() const;
  bool save();

  server::Server& server_;
  DialogPrompts& prompts_;
  bool modified_ = false;
  std::vector<accounts::AccountRecord> base_;  // the store as the dialog found it
  QListWidget* users_;
  QPushButton* remove_;
  QPushButton* modify_;
};

// The console's "Accounts..." command.
void ShowAccountsDialog(server::Server& server, QWidget* parent);

}  // namespace talvek::console
