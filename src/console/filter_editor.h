// The "IP Address Filtering" dialog: the filter switch, the mode and the
// entries in wildcard form. OK applies the added and removed entries to
// "Filters.txt" as it is on disk, takes the result as the server's filter
// list and closes the connections the filter now refuses. Cancel changes nothing.
#pragma once

#include <QDialog>

#include "filter/filter_list.h"

class QCheckBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace talvek::server {
class Server;
}

namespace talvek::console {

class DialogPrompts;

class FilterEditor : public QDialog {
  Q_OBJECT
 public:
  FilterEditor(server::Server& server, DialogPrompts& prompts, QWidget* parent);

  // Appends the input text unless it is blank or already listed (ignoring case).
  void addEntry();
  void removeSelected();
  void accept() override;

 private:
  void selectionChanged();

  server::Server& server_;
  DialogPrompts& prompts_;
  QCheckBox* enable_;
  QListWidget* entries_;
  QLineEdit* input_;
  QPushButton* add_;
  QPushButton* remove_;
  QRadioButton* block_;
  QRadioButton* allow_only_;
  filter::FilterEntries base_;  // the list as the editor found it
};

// The console's "Filtering..." command.
void ShowFilterEditor(server::Server& server, QWidget* parent);

}  // namespace talvek::console
