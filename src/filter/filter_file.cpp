#include "filter/filter_file.h"

#include <cerrno>
#include <fstream>

#include "platform/atomic_file.h"

namespace talvek::filter {

FilterFileContent ReadFilterFile(const std::filesystem::path& file) {
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) return {ec ? ec.value() : 0, {}};
  std::uintmax_t size = std::filesystem::file_size(file, ec);
  if (ec) return {ec.value(), {}};
  if (size > kMaxFilterFileBytes) return {EFBIG, {}};
  errno = 0;
  std::ifstream in(file, std::ios::binary);
  if (!in) return {errno != 0 ? errno : EIO, {}};
  std::string text(static_cast<std::size_t>(size), '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (in.bad()) return {EIO, {}};
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
  list.replace(content.error == 0 ? std::move(content.entries) : FilterEntries{});
  return content.error;
}

int SaveFilterList(const std::filesystem::path& file, const FilterList& list) {
  return WriteFilterFile(file, *list.snapshot());
}

int AppendAndSave(const std::filesystem::path& file, FilterList& list, std::string entry) {
  list.append(std::move(entry));
  return SaveFilterList(file, list);
}

}  // namespace talvek::filter
