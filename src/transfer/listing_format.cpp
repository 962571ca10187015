#include "transfer/listing_format.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>

#include "ftp/path_rules.h"

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

}  // namespace

std::string LongListingLine(const ListedEntry& entry) {
  // Sizes are shown whole: files above 2 GiB must not show as negative.
  std::string size = std::to_string(entry.size);
  std::string date = DateColumn(entry.modified);
  const char* mode = entry.directory ? "d--------- " : "---------- ";
  // "%s %3s %-9s %s %10s %s %s": mode, links, owner, group, size, date, name.
  std::string size_column = size.size() < 10 ? std::string(10 - size.size(), ' ') + size : size;
  return std::string(mode) + "   1 owner     group " + size_column + " " + date + " " + entry.name + "\r\n";
}

std::vector<ListedEntry> ReadEntries(const platform::ConfinedFs& root, DIR* directory, const std::string& path,
                                     const std::string& name_pattern) {
  std::vector<ListedEntry> entries;
  int directory_fd = ::dirfd(directory);
  while (dirent* found = ::readdir(directory)) {
    if (!name_pattern.empty() && ::fnmatch(name_pattern.c_str(), found->d_name, 0) != 0) continue;
    struct stat info {};
    if (::fstatat(directory_fd, found->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISLNK(info.st_mode)) {
      std::string name = found->d_name;
      if (auto target = root.stat(path.empty() ? name : path + "/" + name); target.ok()) info = target.value;
    }
    entries.push_back({found->d_name, S_ISDIR(info.st_mode), static_cast<uint64_t>(info.st_size), info.st_mtime});
  }
  return entries;
}

std::vector<ListedEntry> SearchEntries(const platform::ConfinedFs& root, const std::string& path,
                                       const std::string& pattern) {
  std::string where = path;
  std::string name_pattern = pattern;
  if (size_t slash = pattern.find_last_of('/'); slash != std::string::npos) {
    where = ftp::JoinPath(path, pattern.substr(0, slash));
    name_pattern = pattern.substr(slash + 1);
  }
  auto directory = root.openDir(where);
  if (!directory.ok()) return {};
  return ReadEntries(root, directory.value.get(), where, name_pattern);
}

std::string LongListing(const std::vector<ListedEntry>& entries) {
  std::string text;
  for (const auto& entry : entries) text += LongListingLine(entry);
  return text;
}

std::string FormatListing(const std::string& directory, const std::string& pattern) {
  auto root = platform::ConfinedFs::Open(directory);
  return root.ok() ? LongListing(SearchEntries(*root.value, "", pattern)) : std::string();
}

}  // namespace talvek::transfer
