#include "transfer/listing_format.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>

namespace talvek::transfer {

namespace {

constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string DateColumn(std::time_t modified) {
  std::tm local{};
  localtime_r(&modified, &local);
  char text[32];
  std::snprintf(text, sizeof text, "%s %02d %04d ", kMonths[local.tm_mon % 12], local.tm_mday,
                local.tm_year + 1900);
  return text;
}

struct DirectoryCloser {
  void operator()(DIR* directory) const { ::closedir(directory); }
};

}  // namespace

std::string CollapseSeparators(std::string path) {
  for (size_t pair = path.find("//"); pair != std::string::npos; pair = path.find("//", pair)) path.erase(pair, 1);
  return path;
}

std::string LongListingLine(const ListedEntry& entry) {
  // Sizes are shown whole: files above 2 GiB must not show as negative.
  std::string size = std::to_string(entry.size);
  std::string date = DateColumn(entry.modified);
  const char* mode = entry.directory ? "d--------- " : "---------- ";
  // "%s %3s %-9s %s %10s %s %s": mode, links, owner, group, size, date, name.
  std::string size_column = size.size() < 10 ? std::string(10 - size.size(), ' ') + size : size;
  return std::string(mode) + "   1 owner     group " + size_column + " " + date + " " + entry.name + "\r\n";
}

std::vector<ListedEntry> SearchEntries(const std::string& directory, const std::string& pattern) {
  std::string where = directory;
  std::string name_pattern = pattern;
  if (size_t slash = pattern.find_last_of('/'); slash != std::string::npos) {
    where += pattern.substr(0, slash + 1);
    name_pattern = pattern.substr(slash + 1);
  }
  std::vector<ListedEntry> entries;
  std::unique_ptr<DIR, DirectoryCloser> search(::opendir(where.c_str()));
  if (!search) return entries;
  int directory_fd = ::dirfd(search.get());
  while (dirent* found = ::readdir(search.get())) {
    if (!name_pattern.empty() && ::fnmatch(name_pattern.c_str(), found->d_name, 0) != 0) continue;
    struct stat info {};
    // Links are shown as what they point to; a dangling one as itself.
    if (::fstatat(directory_fd, found->d_name, &info, 0) != 0 &&
        ::fstatat(directory_fd, found->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
      continue;
    entries.push_back({found->d_name, S_ISDIR(info.st_mode), static_cast<uint64_t>(info.st_size), info.st_mtime});
  }
  return entries;
}

std::string FormatListing(const std::string& directory, const std::string& pattern) {
  std::string text;
  for (const auto& entry : SearchEntries(directory, pattern)) text += LongListingLine(entry);
  return text;
}

}  // namespace talvek::transfer
