#include "console/cache_contents_view.h"

#include <QApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "server/server.h"
#include "protocol/listing_format.h"

namespace talvek::console {

namespace {

constexpr int kEntryRole = Qt::UserRole;  // index into the view's entries
const QString kTitle = QStringLiteral("Cache contents");
const QString kEmptyTitle = QStringLiteral("Cache View - Empty");

QString Text(const std::string& text) { return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())); }

// POSIX calls report a path that became a directory, a denied read or a
// symbolic link loop as an error code; stream and filesystem calls throw.
std::optional<std::string> ReadWholeFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  std::optional<std::string> content;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    content.emplace();
    char buffer[65536];
    ssize_t got = 0;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) content->append(buffer, static_cast<size_t>(got));
    if (got < 0) content.reset();
  }
  ::close(fd);
  return content;
}

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

QList<QTreeWidgetItem*> ChildrenOf(QTreeWidget* tree, QTreeWidgetItem* parent) {
  QList<QTreeWidgetItem*> items;
  int count = parent ? parent->childCount() : tree->topLevelItemCount();
  for (int i = 0; i < count; ++i) items << (parent ? parent->child(i) : tree->topLevelItem(i));
  return items;
}

QTreeWidgetItem* Take(QTreeWidget* tree, QTreeWidgetItem* item) {
  QTreeWidgetItem* parent = item->parent();
  return parent ? parent->takeChild(parent->indexOfChild(item))
                : tree->takeTopLevelItem(tree->indexOfTopLevelItem(item));
}

}  // namespace

void ShowCacheContents(server::Server& server, QWidget* parent) {
  auto* view = new CacheContentsView(server, parent);
  view->show();
}

QString CacheEntryText(uint64_t size, uint32_t hits) {
  QString amount = size >= 1048576 ? QString::asprintf("%.2f mb", static_cast<double>(size) / 1048576)
                                   : QString::asprintf("%.2f kb", static_cast<double>(size) / 1024);
  return amount + QStringLiteral("\n Hits: ") + QString::number(hits);
}

CacheContentsView::CacheContentsView(server::Server& server, QWidget* parent)
    : QDialog(parent),
      server_(server),
      tree_(new QTreeWidget(this)),
      selection_text_(new QLabel(this)),
      refresh_button_(new QPushButton(QStringLiteral("Re&fresh"), this)),
      remove_button_(new QPushButton(QStringLiteral("&Remove"), this)),
      clear_button_(new QPushButton(QStringLiteral("&Clear All"), this)),
      reload_button_(new QPushButton(QStringLiteral("Re&load All"), this)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowFlag(Qt::Window);
  setModal(false);
  tree_->setObjectName(QStringLiteral("cacheTree"));
  tree_->setHeaderHidden(true);
  tree_->setIconSize(QSize(19, 19));
  selection_text_->setObjectName(QStringLiteral("selectionText"));
  auto* done_button = new QPushButton(QStringLiteral("&Done"), this);

  auto* group = new QGroupBox(QStringLiteral("Selection"), this);
  auto* group_layout = new QVBoxLayout(group);
  group_layout->addWidget(selection_text_);
  auto* side = new QVBoxLayout;
  side->addWidget(group);
  for (QPushButton* button : {refresh_button_, remove_button_, clear_button_, reload_button_, done_button})
    side->addWidget(button);
  side->addStretch();
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(tree_, 1);
  layout->addLayout(side);
  resize(520, 360);

  connect(tree_, &QTreeWidget::itemSelectionChanged, this, &CacheContentsView::showSelection);
  connect(refresh_button_, &QPushButton::clicked, this, &CacheContentsView::refreshSelected);
  connect(remove_button_, &QPushButton::clicked, this, &CacheContentsView::removeSelected);
  connect(clear_button_, &QPushButton::clicked, this, &CacheContentsView::clearAll);
  connect(reload_button_, &QPushButton::clicked, this, &CacheContentsView::reloadAll);
  connect(done_button, &QPushButton::clicked, this, &QDialog::close);
  fill();
}

void CacheContentsView::fill() {
  const cache::CacheEntryInfo* selected = selectedEntry();
  std::string selected_key = selected ? selected->key : std::string();
  tree_->clear();
  entries_ = server_.directoryCache().entries();
  auto files = server_.fileCache().entries();
  entries_.insert(entries_.end(), files.begin(), files.end());
  for (size_t i = 0; i < entries_.size(); ++i) addEntry(entries_[i]);

  // Labels once the tree stands: adopting items changes their parents.
  for (QTreeWidgetItemIterator it(tree_); *it; ++it) {
    const std::string& key = entries_[(*it)->data(0, kEntryRole).toUInt()].key;
    QTreeWidgetItem* parent = (*it)->parent();
    std::string label = key;
    if (parent) {
      label = key.substr(entries_[parent->data(0, kEntryRole).toUInt()].key.size());
      if (!label.empty() && label.back() == '/') label.pop_back();
    }
    (*it)->setText(0, Text(label));
    if (!selected_key.empty() && key == selected_key) (*it)->setSelected(true);
  }

  bool empty = entries_.empty();
  setWindowTitle(empty ? kEmptyTitle : kTitle);
  clear_button_->setEnabled(!empty);
  reload_button_->setEnabled(!empty);
  if (!empty) tree_->topLevelItem(0)->setExpanded(true);
  showSelection();
}

void CacheContentsView::addEntry(const cache::CacheEntryInfo& entry) {
  // Under the deepest item whose key begins this key.
  QTreeWidgetItem* parent = nullptr;
  size_t parent_length = 0;
  for (QTreeWidgetItemIterator it(tree_); *it; ++it) {
    const std::string& key = entries_[(*it)->data(0, kEntryRole).toUInt()].key;
    if (key.size() < entry.key.size() && key.size() >= parent_length && entry.key.starts_with(key)) {
      parent = *it;
      parent_length = key.size();
    }
  }
  auto* item = new QTreeWidgetItem;
  item->setData(0, kEntryRole, static_cast<uint>(&entry - entries_.data()));
  auto icon = entry.tag == cache::kListingTag ? QStyle::SP_DirIcon : QStyle::SP_FileIcon;
  item->setIcon(0, QApplication::style()->standardIcon(icon));
  QList<QTreeWidgetItem*> siblings = ChildrenOf(tree_, parent);
  if (parent)
    parent->addChild(item);
  else
    tree_->addTopLevelItem(item);
  // Earlier items at this level that the new key begins move under it.
  for (QTreeWidgetItem* sibling : siblings) {
    const std::string& key = entries_[sibling->data(0, kEntryRole).toUInt()].key;
    if (key.size() > entry.key.size() && key.starts_with(entry.key)) item->addChild(Take(tree_, sibling));
  }
}

const cache::CacheEntryInfo* CacheContentsView::selectedEntry() const {
  auto selection = tree_->selectedItems();
  if (selection.isEmpty()) return nullptr;
  uint index = selection.front()->data(0, kEntryRole).toUInt();
  return index < entries_.size() ? &entries_[index] : nullptr;
}

void CacheContentsView::showSelection() {
  const cache::CacheEntryInfo* entry = selectedEntry();
  refresh_button_->setEnabled(entry != nullptr);
  remove_button_->setEnabled(entry != nullptr);
  selection_text_->setText(entry ? CacheEntryText(entry->size, entry->hits) : QString());
}

cache::CacheStore& CacheContentsView::cacheOf(const cache::CacheEntryInfo& entry) {
  return entry.tag == cache::kListingTag ? server_.directoryCache() : server_.fileCache();
}

bool CacheContentsView::reload(const cache::CacheEntryInfo& entry) {
  std::optional<std::string> data;
  if (entry.tag == cache::kListingTag) {
    if (IsDirectory(entry.key)) data = transfer::FormatListing(entry.key, "");
  } else {
    data = ReadWholeFile(entry.key);
  }
  if (!data) return false;
  cacheOf(entry).replace(entry.key, std::make_shared<const std::string>(std::move(*data)));
  return true;
}

void CacheContentsView::refreshSelected() {
  const cache::CacheEntryInfo* selected = selectedEntry();
  if (!selected) return;
  cache::CacheEntryInfo entry = *selected;
  // The lookup counts as a hit, as any use of the entry does.
  if (!cacheOf(entry).lookup(entry.key)) return fill();
  // A copy of a directory or file that is gone would be served on: drop it.
  if (!reload(entry)) cacheOf(entry).remove(entry.key);
  fill();
}

void CacheContentsView::removeSelected() {
  const cache::CacheEntryInfo* selected = selectedEntry();
  if (!selected) return;
  cache::CacheEntryInfo entry = *selected;
  if (cacheOf(entry).lookup(entry.key)) cacheOf(entry).remove(entry.key);
  tree_->clearSelection();
  fill();
}

void CacheContentsView::reloadAll() {
  for (auto* cache : {&server_.directoryCache(), &server_.fileCache()})
    for (const auto& entry : cache->entries())
      if (!reload(entry)) cache->remove(entry.key);
  fill();
}

void CacheContentsView::clearAll() {
  server_.directoryCache().clear();
  server_.fileCache().clear();
  tree_->clear();
  entries_.clear();
  setWindowTitle(kEmptyTitle);
  selection_text_->clear();
  for (QPushButton* button : {refresh_button_, remove_button_, clear_button_, reload_button_})
    button->setEnabled(false);
}

}  // namespace talvek::console
