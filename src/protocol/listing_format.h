// The text of directory listings: the long line of LIST (fixed placeholder
// columns, size, date of last change, name), the bare names of NLST and the
// fact lines of the machine listings (MLST, MLSD).
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/confined_fs.h"

namespace talvek::transfer {

struct ListedEntry {
  std::string name;
  bool directory = false;
  uint64_t size = 0;
  std::time_t modified = 0;
  uint64_t device = 0;
  uint64_t inode = 0;
};

// `name` as `info` describes it.
ListedEntry EntryOf(const std::string& name, const struct stat& info);

// The facts a machine listing can give, as bits of a selection.
enum ListingFact : uint8_t { kFactType = 1, kFactSize = 2, kFactModify = 4, kFactPerm = 8, kFactUnique = 16 };
inline constexpr uint8_t kAllFacts = 31;

// "type;size;..." for the facts in `selected`; with `every`, all facts, the
// selected ones marked "*" (FEAT's MLST line).
std::string FactNames(uint8_t selected, bool every = false);
// The known facts a client names in "OPTS MLST type;size;" (any letter
// case; unknown names are ignored).
uint8_t ParseFactNames(std::string_view list);
// "type=file;size=12;modify=YYYYMMDDHHMMSS;perm=r;unique=...;" for the
// selected facts; perm is what a user with `permissions` (1 read, 2 write,
// 4 delete) may do with the entry.
std::string EntryFacts(const ListedEntry& entry, uint8_t facts, uint8_t permissions);

// UTC "YYYYMMDDHHMMSS"; ParseFactTime reads it back (nothing when malformed).
std::string FactTime(std::time_t when);
std::optional<std::time_t> ParseFactTime(std::string_view text);

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

// The directory below `root` that a LIST, NLST or MLSD argument (relative
// to `path`) names; `path` itself for an empty one; nothing for a pattern
// or anything else.
std::optional<std::string> NamedDirectory(const platform::ConfinedFs& root, const std::string& path,
                                          const std::string& argument);

// The entries such an argument names: the contents of its directory, else
// the matches of the pattern it is.
std::vector<ListedEntry> ArgumentEntries(const platform::ConfinedFs& root, const std::string& path,
                                         const std::string& argument);

// The long lines of `entries`.
std::string LongListing(const std::vector<ListedEntry>& entries);

// Long lines for every entry of `directory`, a local path the operator
// gives (the cache contents view); empty when it cannot be read.
std::string FormatListing(const std::string& directory, const std::string& pattern);

}  // namespace talvek::transfer
