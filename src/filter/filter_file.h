// "Filters.txt": one stored pattern per line, CR LF line ends, list order,
// rewritten whole and atomically on every save. The caller gives the path
// (the program directory's Filters.txt).
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "filter/filter_list.h"

namespace talvek::filter {

inline constexpr const char* kFilterFileName = "Filters.txt";
// A larger file is refused as unreadable rather than read in part.
inline constexpr std::size_t kMaxFilterFileBytes = 1 << 20;

struct FilterFileContent {
  int error = 0;  // 0, or the errno of a file that exists but cannot be read
  FilterEntries entries;
};

// A missing file is an empty list with error 0.
FilterFileContent ReadFilterFile(const std::filesystem::path& file);
// Returns 0 or the errno of the failed write; the old file then stays.
int WriteFilterFile(const std::filesystem::path& file, const FilterEntries& entries);

// Every line without its line end (CR LF or LF) is one entry, empty lines
// included; a final line end does not start another entry.
FilterEntries ParseFilterText(std::string_view text);
std::string FormatFilterText(const FilterEntries& entries);

// A locked read-modify-write of the file: holds its edit lock from the read
// to the rename; `change` edits the entries and returns "" to save them, or
// the reason it refuses. A file that cannot be read is never written over.
struct FilterFileEdit {
  enum Status { Saved, Refused, Unreadable, WriteFailed } status = Saved;
  int error = 0;  // errno for Unreadable and WriteFailed
  std::string refusal;
  FilterEntries entries;  // as saved
};
FilterFileEdit EditFilterFile(const std::filesystem::path& file,
                              const std::function<std::string(FilterEntries&)>& change);

// An editor's changes (`base` as it opened, `mine` as it closes) applied to
// the entries `disk` holds now: its removals taken out, its additions
// appended. Entries compare ignoring case.
FilterEntries MergeFilterEntries(const FilterEntries& base, const FilterEntries& mine, const FilterEntries& disk);

// Replaces the list with the file's in one swap; a missing file gives an
// empty list, a file that cannot be read keeps the old list (its errno returned).
int LoadFilterList(const std::filesystem::path& file, FilterList& list);
// Appends one stored entry to the file as it is on disk (the monitor's ban
// command) and takes the file's list; when saving fails the list in memory
// still gets the entry. Returns 0 or errno.
int AppendAndSave(const std::filesystem::path& file, FilterList& list, std::string entry);

}  // namespace talvek::filter
