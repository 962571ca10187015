// The text of directory listings: the long line of LIST (fixed placeholder
// columns, size, date of last change, name) and the bare names of NLST.
#pragma once

#include <dirent.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "platform/confined_fs.h"

namespace talvek::transfer {

struct ListedEntry {
  std::string name;
  bool directory = false;
  uint64_t size = 0;
  std::time_t modified = 0;
};

// One long line with its CR LF; the date is local time, English month names.
std::string LongListingLine(const ListedEntry& entry);

// The entries of `directory` (open for reading; `path` is where it lies
// below `root`) whose names match `name_pattern` (empty: all of them, "."
// and ".." included), in the order the file system returns them. A link is
// shown as what it leads to when that lies below the root, otherwise as the
// link itself: never the size or date of anything outside.
std::vector<ListedEntry> ReadEntries(const platform::ConfinedFs& root, DIR* directory, const std::string& path,
                                     const std::string& name_pattern);

// The entries that `pattern` names below `root`: `pattern` may begin with a
// directory path ("sub/*.txt") relative to `path`.
std::vector<ListedEntry> SearchEntries(const platform::ConfinedFs& root, const std::string& path,
                                       const std::string& pattern);

// The long lines of `entries`.
std::string LongListing(const std::vector<ListedEntry>& entries);

// Long lines for every entry of `directory`, a local path the operator
// gives (the cache contents view); empty when it cannot be read.
std::string FormatListing(const std::string& directory, const std::string& pattern);

}  // namespace talvek::transfer
