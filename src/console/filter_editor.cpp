#include "console/filter_editor.h"

#include <cstring>
#include <memory>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "console/dialog_prompts.h"
#include "console/page_fields.h"
#include "filter/filter_file.h"
#include "filter/filter_list.h"
#include "server/server.h"

namespace talvek::console {

FilterEditor::FilterEditor(server::Server& server, DialogPrompts& prompts, QWidget* parent)
    : QDialog(parent),
      server_(server),
      prompts_(prompts),
      enable_(Named(new QCheckBox(QStringLiteral("Enable address filtering"), this), "enableFilterCheck")),
      entries_(Named(new QListWidget(this), "entryList")),
      input_(Named(new QLineEdit(this), "entryEdit")),
      add_(Named(new QPushButton(QStringLiteral("&Add"), this), "addButton")),
      remove_(Named(new QPushButton(QStringLiteral("&Remove"), this), "removeButton")),
      block_(Named(new QRadioButton(QStringLiteral("Block listed IP addresses"), this), "blockRadio")),
      allow_only_(Named(new QRadioButton(QStringLiteral("Allow only listed IP addresses"), this), "allowOnlyRadio")) {
  setWindowTitle(QStringLiteral("IP Address Filtering"));
  add_->setAutoDefault(false);
  remove_->setAutoDefault(false);
  auto* grid = new QGridLayout;
  grid->addWidget(enable_, 0, 0, 1, 2);
  grid->addWidget(input_, 1, 0);
  grid->addWidget(add_, 1, 1);
  grid->addWidget(entries_, 2, 0);
  grid->addWidget(remove_, 2, 1, Qt::AlignTop);
  grid->addWidget(block_, 3, 0, 1, 2);
  grid->addWidget(allow_only_, 4, 0, 1, 2);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &FilterEditor::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &FilterEditor::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(buttons);

  settings::Settings current = server_.settings();
  enable_->setChecked(current.general.filterEnabled != 0);
  (current.general.blockListed != 0 ? block_ : allow_only_)->setChecked(true);
  base_ = server_.filterList().entries();
  for (const std::string& entry : base_) entries_->addItem(ToQString(filter::ToWildcardForm(entry)));

  connect(add_, &QPushButton::clicked, this, &FilterEditor::addEntry);
  connect(input_, &QLineEdit::returnPressed, this, &FilterEditor::addEntry);
  connect(remove_, &QPushButton::clicked, this, &FilterEditor::removeSelected);
  connect(entries_, &QListWidget::itemSelectionChanged, this, &FilterEditor::selectionChanged);
  selectionChanged();
}

void FilterEditor::selectionChanged() {
  QList<QListWidgetItem*> selected = entries_->selectedItems();
  remove_->setEnabled(!selected.isEmpty());
  if (!selected.isEmpty()) input_->setText(selected.front()->text());
}

void FilterEditor::addEntry() {
  // A blank entry matches every address: one stray click would lock out
  // (or, in allow-only mode, let in) everybody.
  QString text = input_->text().trimmed();
  if (text.isEmpty()) return;
  std::string typed = ToStdString(text);
  for (int row = 0; row < entries_->count(); ++row)
    if (filter::SameEntry(ToStdString(entries_->item(row)->text()), typed)) {
      input_->clear();
      return;
    }
  entries_->addItem(text);
  input_->clear();
}

void FilterEditor::removeSelected() {
  QList<QListWidgetItem*> selected = entries_->selectedItems();
  if (selected.isEmpty()) return;
  std::unique_ptr<QListWidgetItem> taken(entries_->takeItem(entries_->row(selected.front())));
}

void FilterEditor::accept() {
  filter::FilterEntries mine;
  for (int row = 0; row < entries_->count(); ++row)
    mine.push_back(filter::ToStoredForm(ToStdString(entries_->item(row)->text())));
  // The edits go onto the file as it is now, so that entries added or
  // removed elsewhere meanwhile (the daemon's command line) are kept.
  std::filesystem::path file = server_.filtersFile();
  filter::FilterFileEdit edit = filter::EditFilterFile(file, [&](filter::FilterEntries& entries) {
    entries = filter::MergeFilterEntries(base_, mine, entries);
    return std::string();
  });
  // The list in memory keeps the edit even when the file cannot be written.
  server_.filterList().replace(edit.status == filter::FilterFileEdit::Saved ? std::move(edit.entries) : mine);
  server_.updateSettings([this](settings::Settings& settings) {
    settings.general.filterEnabled = enable_->isChecked() ? 1 : 0;
    settings.general.blockListed = allow_only_->isChecked() ? 0 : 1;
  });
  if (edit.status != filter::FilterFileEdit::Saved)
    prompts_.inform(this,
                    QStringLiteral("Cannot %1 %2: %3")
                        .arg(edit.status == filter::FilterFileEdit::Unreadable ? QStringLiteral("read")
                                                                              : QStringLiteral("write"),
                             QString::fromStdString(file.string()), QString::fromLocal8Bit(std::strerror(edit.error))),
                    kConsoleCaption, QMessageBox::Warning);
  QDialog::accept();
  server_.runOnControlThread([&server = server_] { server.recheckFilter(); });
}

void ShowFilterEditor(server::Server& server, QWidget* parent) {
  FilterEditor editor(server, DefaultPrompts(), parent);
  editor.exec();
}

}  // namespace talvek::console
