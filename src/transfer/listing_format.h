// The text of directory listings: the long line of LIST (fixed placeholder
// columns, size, date of last change, name) and the bare names of NLST.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace talvek::transfer {

struct ListedEntry {
  std::string name;
  bool directory = false;
  uint64_t size = 0;
  std::time_t modified = 0;
};

// One long line with its CR LF; the date is local time, English month names.
std::string LongListingLine(const ListedEntry& entry);

// The entries of `directory` (ending with "/") whose names match `pattern`
// (empty: all of them, "." and ".." included), in the order the file
// system returns them. `pattern` may name a subdirectory path first
// ("sub/*.txt").
std::vector<ListedEntry> SearchEntries(const std::string& directory, const std::string& pattern);

// Long lines for every matching entry; empty when nothing matches.
std::string FormatListing(const std::string& directory, const std::string& pattern);

// "a//b" -> "a/b", repeated until no doubled separator is left.
std::string CollapseSeparators(std::string path);

}  // namespace talvek::transfer
