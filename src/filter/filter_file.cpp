#include "filter/filter_file.h"

#include <algorithm>
#include <cerrno>

#include "platform/atomic_file.h"

namespace talvek::filter {

FilterFileContent ReadFilterFile(const std::filesystem::path& file) {
  std::string text;
  int error = platform::ReadWholeFile(file, kMaxFilterFileBytes, text);
  if (error == ENOENT) return {0, {}};
  if (error != 0) return {error, {}};
  return {0, ParseFilterText(text)};
}

int WriteFilterFile(const std::filesystem::path& file, const FilterEntries& entries) {
  return platform::WriteFileAtomically(file, FormatFilterText(entries));
}

FilterEntries ParseFilterText(std::string_view text) {
  FilterEntries entries;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    entries.emplace_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return entries;
}

std::string FormatFilterText(const FilterEntries& entries) {
  std::string text;
  for (const std::string& entry : entries) text.append(entry).append("\r\n");
  return text;
}

int LoadFilterList(const std::filesystem::path& file, FilterList& list) {
  FilterFileContent content = ReadFilterFile(file);
  if (content.error == 0) list.replace(std::move(content.entries));
  return content.error;
}

FilterFileEdit EditFilterFile(const std::filesystem::path& file,
                              const std::function<std::string(FilterEntries&)>& change) {
  FilterFileEdit edit;
  platform::FileEditLock lock(file);
  if ((edit.error = lock.error()) != 0) {
    edit.status = FilterFileEdit::WriteFailed;  // no lock file: the file cannot be written either
    return edit;
  }
  FilterFileContent content = ReadFilterFile(file);
  if ((edit.error = content.error) != 0) {
    edit.status = FilterFileEdit::Unreadable;
    return edit;
  }
  if (!(edit.refusal = change(content.entries)).empty()) {
    edit.status = FilterFileEdit::Refused;
    return edit;
  }
  if ((edit.error = WriteFilterFile(file, content.entries)) != 0) {
    edit.status = FilterFileEdit::WriteFailed;
    return edit;
  }
  edit.entries = std::move(content.entries);
  return edit;
}

FilterEntries MergeFilterEntries(const FilterEntries& base, const FilterEntries& mine, const FilterEntries& disk) {
  auto listed = [](const FilterEntries& entries, const std::string& entry) {
    return std::ranges::any_of(entries, [&](const std::string& e) { return SameEntry(e, entry); });
  };
  FilterEntries merged;
  for (const std::string& entry : disk)
    if (listed(mine, entry) || !listed(base, entry)) merged.push_back(entry);
  for (const std::string& entry : mine)
    if (!listed(base, entry) && !listed(merged, entry)) merged.push_back(entry);
  return merged;
}

int AppendAndSave(const std::filesystem::path& file, FilterList& list, std::string entry) {
  FilterFileEdit edit = EditFilterFile(file, [&](FilterEntries& entries) {
    entries.push_back(entry);
    return std::string();
  });
  if (edit.status == FilterFileEdit::Saved) list.replace(std::move(edit.entries));
  else list.append(std::move(entry));
  return edit.error;
}

}  // namespace talvek::filter
