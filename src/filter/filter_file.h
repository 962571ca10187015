// "Filters.txt": one stored pattern per line, CR LF line ends, list order,
// rewritten whole and atomically on every save. The caller gives the path
// (the program directory's Filters.txt).
#pragma once

#include <filesystem>
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

// Server-side helpers over the shared list. Load leaves the list empty when
// the file is missing or unreadable; a failed save keeps the list in memory.
int LoadFilterList(const std::filesystem::path& file, FilterList& list);
int SaveFilterList(const std::filesystem::path& file, const FilterList& list);
// Appends one stored entry (the monitor's ban command) and saves.
int AppendAndSave(const std::filesystem::path& file, FilterList& list, std::string entry);

}  // namespace talvek::filter
