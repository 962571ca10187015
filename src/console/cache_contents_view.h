// The "Cache contents" window: the entries of the directory-listing cache and
// the file cache as one tree (an entry sits under the deepest entry whose key
// begins its key), the size and hits of the selected entry, and the commands
// to refresh or remove it, reload everything or clear both caches. Modeless;
// deletes itself when closed. The server owns the caches.
#pragma once

#include <QDialog>
#include <QString>

#include <cstdint>
#include <string>
#include <vector>

#include "cache/cache_store.h"

class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace talvek::server {
class Server;
}

namespace talvek::console {

// Opens the window over `server`'s caches, parented to `parent`.
void ShowCacheContents(server::Server& server, QWidget* parent);

// "2.00 mb\n Hits: 3": megabytes from 1048576 bytes on, kilobytes below.
QString CacheEntryText(uint64_t size, uint32_t hits);

class CacheContentsView : public QDialog {
  Q_OBJECT

 public:
  CacheContentsView(server::Server& server, QWidget* parent);

 public slots:
  // Rebuilds the tree from both caches; the selected key stays selected.
  void fill();
  void refreshSelected();
  void removeSelected();
  void reloadAll();
  void clearAll();

 private:
  void addEntry(const cache::CacheEntryInfo& entry);
  void showSelection();
  const cache::CacheEntryInfo* selectedEntry() const;
  // Builds the entry's data anew; false when its directory or file is gone.
  bool reload(const cache::CacheEntryInfo& entry);
  cache::CacheStore& cacheOf(const cache::CacheEntryInfo& entry);

  server::Server& server_;
  std::vector<cache::CacheEntryInfo> entries_;  // as filled; items refer to them by index
  QTreeWidget* tree_;
  QLabel* selection_text_;
  QPushButton* refresh_button_;
  QPushButton* remove_button_;
  QPushButton* clear_button_;
  QPushButton* reload_button_;
};

}  // namespace talvek::console
