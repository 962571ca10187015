#include "filter/filter_command.h"

#include <algorithm>
#include <cstring>

#include "filter/filter_file.h"
#include "filter/filter_list.h"
#include "filter/pattern_engine.h"

namespace talvek::filter {
namespace {

constexpr const char* kUsage =
    "usage: filter list | add PATTERN | remove PATTERN | enable | disable | mode block|allow\n";

int Usage(std::ostream& err) {
  err << kUsage;
  return 2;
}

std::string ModeText(uint32_t blockListed) {
  return blockListed == 1 ? "block listed addresses" : "allow only listed addresses";
}

int List(const std::filesystem::path& file, uint32_t enabled, uint32_t blockListed,
         std::ostream& out, std::ostream& err) {
  FilterFileContent content = ReadFilterFile(file);
  if (content.error != 0) {
    err << "filter: cannot read " << file.string() << ": " << std::strerror(content.error) << "\n";
    return 1;
  }
  out << "IP filtering " << (enabled != 0 ? "enabled" : "disabled") << ", mode: "
      << ModeText(blockListed) << "\n";
  for (const std::string& entry : content.entries) out << ToWildcardForm(entry) << "\n";
  return 0;
}

// One locked edit of the file; a file that cannot be read is never
// overwritten, so the operator's entries cannot be lost to a failed read.
int Edit(const std::filesystem::path& file, const std::function<std::string(FilterEntries&)>& change,
         const std::string& done, std::ostream& out, std::ostream& err) {
  FilterFileEdit edit = EditFilterFile(file, change);
  switch (edit.status) {
    case FilterFileEdit::Saved: out << done << "\n"; return 0;
    case FilterFileEdit::Refused: err << "filter: " << edit.refusal << "\n"; return 2;
    case FilterFileEdit::Unreadable: err << "filter: cannot read "; break;
    case FilterFileEdit::WriteFailed: err << "filter: cannot write "; break;
  }
  err << file.string() << ": " << std::strerror(edit.error) << "\n";
  return 1;
}

bool Listed(const FilterEntries& entries, const std::string& stored) {
  return std::ranges::any_of(entries, [&](const std::string& e) { return SameEntry(e, stored); });
}

int Add(const std::filesystem::path& file, const std::string& typed, std::ostream& out,
        std::ostream& err) {
  if (typed.empty()) {
    err << "filter: the pattern must not be empty (it would match every address)\n";
    return 2;
  }
  std::string stored = ToStoredForm(typed);
  PatternEngine engine;
  if (!engine.compile(stored)) {
    err << "filter: invalid pattern " << typed << ": " << engine.firstErrorMessage() << "\n";
    return 2;
  }
  return Edit(file, [&](FilterEntries& entries) {
    if (Listed(entries, stored)) return "pattern already listed: " + typed;
    entries.push_back(stored);
    return std::string();
  }, "Added " + typed, out, err);
}

int Remove(const std::filesystem::path& file, const std::string& typed, std::ostream& out,
           std::ostream& err) {
  std::string stored = ToStoredForm(typed);
  return Edit(file, [&](FilterEntries& entries) {
    if (!Listed(entries, stored)) return "pattern not listed: " + typed;
    std::erase_if(entries, [&](const std::string& e) { return SameEntry(e, stored); });
    return std::string();
  }, "Removed " + typed, out, err);
}

}  // namespace

int RunFilterCommand(const std::vector<std::string>& args, const std::filesystem::path& filtersFile,
                     uint32_t& filterEnabled, uint32_t& blockListed, std::ostream& out,
                     std::ostream& err) {
  if (args.empty()) return Usage(err);
  const std::string& verb = args[0];
  if (args.size() == 1 && verb == "list") return List(filtersFile, filterEnabled, blockListed, out, err);
  if (args.size() == 2 && verb == "add") return Add(filtersFile, args[1], out, err);
  if (args.size() == 2 && verb == "remove") return Remove(filtersFile, args[1], out, err);
  if (args.size() == 1 && (verb == "enable" || verb == "disable")) {
    filterEnabled = verb == "enable" ? 1 : 0;
    out << "IP filtering " << verb << "d\n";
    return 0;
  }
  if (args.size() == 2 && verb == "mode" && (args[1] == "block" || args[1] == "allow")) {
    blockListed = args[1] == "block" ? 1 : 0;
    out << "Mode: " << ModeText(blockListed) << "\n";
    return 0;
  }
  return Usage(err);
}

}  // namespace talvek::filter
