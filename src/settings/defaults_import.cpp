#include "settings/defaults_import.h"

#include <optional>
#include <string>
#include <utility>

#include "settings/reg_text.h"
#include "settings/settings.h"

namespace talvek::settings {

namespace {

using regtext::Line;

// Hex text of one byte value is cut off beyond this many characters.
constexpr size_t kMaxHexText = 3 * kMaxValueSize;

// The name of a value line whose "=" is at `equals`: the text between the
// line's first character and the character before the "=".
std::optional<std::string_view> NameBefore(std::string_view text, size_t equals) {
  if (equals < 2) return std::nullopt;
  return text.substr(1, equals - 2);
}

std::optional<std::string> DecodeHexDigits(std::string_view collected) {
  size_t colon = collected.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  std::string digits;
  for (char c : collected.substr(colon + 1)) {
    if (c != ',') digits += c;
  }
  if (digits.size() % 2 != 0) return std::nullopt;
  std::string bytes;
  for (size_t i = 0; i < digits.size(); i += 2) {
    int high = regtext::HexDigit(digits[i]);
    int low = regtext::HexDigit(digits[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes += static_cast<char>((high << 4) | low);
  }
  return bytes;
}

class DefaultsImporter {
 public:
  DefaultsImporter(std::string_view text, RegistryStore& store) : lines_(text), store_(store) {}

  int run() {
    while (std::optional<Line> line = next()) {
      if (!line->truncated && line->text.starts_with('[')) readKey(line->text);
    }
    return imported_;
  }

 private:
  std::optional<Line> next() {
    if (pending_) return std::exchange(pending_, std::nullopt);
    return lines_.next();
  }

  // Reads the lines of one key up to its empty line; a header among them is ignored.
  void readKey(std::string_view header) {
    size_t slash = header.find('\\');
    std::optional<std::string> key;
    if (slash != std::string_view::npos) {
      std::string_view path = header.substr(slash + 1);
      path.remove_suffix(path.empty() ? 0 : 1);
      if (store_.createKey(path)) key.emplace(path);
    }
    while (std::optional<Line> line = next()) {
      if (line->text.empty()) return;
      if (key && !line->truncated) valueLine(*key, line->text);
    }
  }

  void valueLine(const std::string& key, std::string_view text) {
    if (size_t at = text.find("=\""); at != std::string_view::npos) {
      std::optional<std::string_view> name = NameBefore(text, at);
      std::string_view value = text.substr(at + 2);
      if (name && !value.empty()) {
        value.remove_suffix(1);
        count(store_.setString(key, *name, std::string(value)));
      }
    } else if (size_t at = text.find("=dword:"); at != std::string_view::npos) {
      std::optional<std::string_view> name = NameBefore(text, at);
      std::optional<uint32_t> number;
      if (text.size() - (at + 7) >= 8) number = regtext::ParseHex32(text.substr(text.size() - 8));
      if (name && number) count(store_.setDword(key, *name, *number));
    } else if (size_t at = text.find("=hex"); at != std::string_view::npos) {
      std::optional<std::string_view> name = NameBefore(text, at);
      std::optional<std::string> bytes = byteValue(text.substr(at + 1));
      if (name && bytes) count(store_.setRaw(key, *name, ValueType::Binary, std::move(*bytes)));
    }
  }

  // Collects a byte value from "hex...:bb,bb,\" and its continuation lines.
  // The value ends after a line without a trailing backslash, or before an
  // empty line or one holding a double quote (those belong to the key).
  std::optional<std::string> byteValue(std::string_view first) {
    bool continued = first.ends_with('\\');
    std::string collected(first.substr(0, first.find('\\')));
    bool good = true;
    while (continued) {
      std::optional<Line> line = next();
      if (!line) break;
      if (line->text.empty() || line->text.find('"') != std::string_view::npos) {
        pending_ = line;
        break;
      }
      if (line->truncated) return std::nullopt;
      std::string_view part = line->text.substr(std::min<size_t>(2, line->text.size()));
      continued = part.ends_with('\\');
      if (continued) part.remove_suffix(1);
      if (collected.size() + part.size() > kMaxHexText) good = false;
      if (good) collected += part;
    }
    if (!good) return std::nullopt;
    return DecodeHexDigits(collected);
  }

  void count(bool stored) { imported_ += stored ? 1 : 0; }

  regtext::LineSplitter lines_;
  RegistryStore& store_;
  std::optional<Line> pending_;
  int imported_ = 0;
};

}  // namespace

ImportResult ImportDefaults(const std::filesystem::path& regFile, RegistryStore& store) {
  regtext::FileText file = regtext::ReadFileBounded(regFile);
  ImportResult result;
  result.fileOpened = file.opened;
  // A read error ends the import quietly; what was read is still imported.
  if (file.opened) result.valuesImported = DefaultsImporter(file.content, store).run();
  return result;
}

bool RunFirstStartImport(RegistryStore& store, const std::filesystem::path& programDir) {
  if (ReadNewInstall(store) == 0) return false;
  ImportDefaults(programDir / "defaults.reg", store);
  WriteNewInstall(store, 0);
  store.save();  // a failed write is not reported, as with every settings write
  return true;
}

}  // namespace talvek::settings
