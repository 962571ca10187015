#include "protocol/listing_format.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <span>
#include <string_view>

#include "protocol/path_rules.h"
#include "settings/reg_text.h"

namespace talvek::transfer {

namespace {

using settings::regtext::EqualsIgnoringCase;

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

constexpr std::string_view kFactNames[] = {"type", "size", "modify", "perm", "unique"};

// The perm letters of RFC 3659 and the user bits each needs: APPE and
// renames need the delete right, STOR over an existing file write and delete.
struct PermLetter {
  char letter;
  uint8_t needs;
};
constexpr PermLetter kFilePerms[] = {{'a', 4}, {'d', 4}, {'f', 4}, {'r', 1}, {'w', 6}};
constexpr PermLetter kDirectoryPerms[] = {{'c', 2}, {'d', 4}, {'e', 1}, {'f', 4}, {'l', 1}, {'m', 2}, {'p', 4}};

}  // namespace

ListedEntry EntryOf(const std::string& name, const struct stat& info) {
  return {name,
          S_ISDIR(info.st_mode),
          static_cast<uint64_t>(info.st_size),
          info.st_mtime,
          static_cast<uint64_t>(info.st_dev),
          static_cast<uint64_t>(info.st_ino)};
}

std::string FactNames(uint8_t selected, bool every) {
  std::string text;
  for (size_t i = 0; i < std::size(kFactNames); ++i) {
    bool on = (selected & (1u << i)) != 0;
    if (on || every) text += std::string(kFactNames[i]) + (on && every ? "*;" : ";");
  }
  return text;
}

uint8_t ParseFactNames(std::string_view list) {
  uint8_t selected = 0;
  while (!list.empty()) {
    size_t end = list.find(';');
    std::string_view name = list.substr(0, end);
    for (size_t i = 0; i < std::size(kFactNames); ++i)
      if (EqualsIgnoringCase(name, kFactNames[i])) selected |= static_cast<uint8_t>(1u << i);
    if (end == std::string_view::npos) break;
    list.remove_prefix(end + 1);
  }
  return selected;
}

std::string FactTime(std::time_t when) {
  std::tm utc{};
  gmtime_r(&when, &utc);
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                utc.tm_hour, utc.tm_min, utc.tm_sec);
  return text;
}

std::optional<std::time_t> ParseFactTime(std::string_view text) {
  if (text.size() != 14) return std::nullopt;
  int fields[6] = {};
  constexpr int kWidths[6] = {4, 2, 2, 2, 2, 2};
  size_t at = 0;
  for (int i = 0; i < 6; ++i) {
    for (int digit = 0; digit < kWidths[i]; ++digit, ++at) {
      if (text[at] < '0' || text[at] > '9') return std::nullopt;
      fields[i] = fields[i] * 10 + (text[at] - '0');
    }
  }
  std::tm utc{};
  utc.tm_year = fields[0] - 1900;
  utc.tm_mon = fields[1] - 1;
  utc.tm_mday = fields[2];
  utc.tm_hour = fields[3];
  utc.tm_min = fields[4];
  utc.tm_sec = fields[5];
  std::time_t when = ::timegm(&utc);
  // A normalised date differs from the one given: 20240230 is no date.
  if (fields[0] < 1970 || FactTime(when) != text) return std::nullopt;
  return when;
}

std::string EntryFacts(const ListedEntry& entry, uint8_t facts, uint8_t permissions) {
  std::string text;
  if (facts & kFactType) text += entry.directory ? "type=dir;" : "type=file;";
  if ((facts & kFactSize) && !entry.directory) text += "size=" + std::to_string(entry.size) + ";";
  if (facts & kFactModify) text += "modify=" + FactTime(entry.modified) + ";";
  if (facts & kFactPerm) {
    text += "perm=";
    for (const auto& perm :
         entry.directory ? std::span<const PermLetter>(kDirectoryPerms) : std::span<const PermLetter>(kFilePerms))
      if ((permissions & perm.needs) == perm.needs) text += perm.letter;
    text += ";";
  }
  if (facts & kFactUnique) {
    char unique[40];
    std::snprintf(unique, sizeof unique, "unique=%llxU%llx;", static_cast<unsigned long long>(entry.device),
                  static_cast<unsigned long long>(entry.inode));
    text += unique;
  }
  return text;
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
    entries.push_back(EntryOf(found->d_name, info));
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

std::optional<std::string> NamedDirectory(const platform::ConfinedFs& root, const std::string& path,
                                          const std::string& argument) {
  if (argument.empty()) return path;
  std::string named = ftp::JoinPath(path, argument);
  auto info = root.stat(named);
  if (!info.ok() || !S_ISDIR(info.value.st_mode)) return std::nullopt;
  return named;
}

std::vector<ListedEntry> ArgumentEntries(const platform::ConfinedFs& root, const std::string& path,
                                         const std::string& argument) {
  auto directory = NamedDirectory(root, path, argument);
  if (!directory) return SearchEntries(root, path, argument);
  auto opened = root.openDir(*directory);
  return opened.ok() ? ReadEntries(root, opened.value.get(), *directory, "") : std::vector<ListedEntry>{};
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
