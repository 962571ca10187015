// The store file syntax: "REGEDIT4", then per key a "[HKEY_CURRENT_USER\path]"
// header, one line per value and an empty line.
#include <cstdio>

#include "settings/reg_text.h"
#include "settings/registry_store.h"

namespace talvek::settings {

namespace {

constexpr std::string_view kRoot = "HKEY_CURRENT_USER";
// Strings longer than this are written as hex(1) so lines stay short.
constexpr size_t kMaxQuotedString = 4096;
// Hex lines break once they reach this width, regedit-style.
constexpr size_t kHexLineWidth = 76;

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

std::string FormatName(std::string_view name) { return name.empty() ? "@" : Quote(name); }

void AppendHex(std::string& out, std::string prefix, std::string_view data) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string line = std::move(prefix);
  for (size_t i = 0; i < data.size(); ++i) {
    auto byte = static_cast<uint8_t>(data[i]);
    line += kDigits[byte >> 4];
    line += kDigits[byte & 0xf];
    if (i + 1 == data.size()) break;
    line += ',';
    if (line.size() >= kHexLineWidth) {
      out += line + "\\\n";
      line = "  ";
    }
  }
  out += line + "\n";
}

void AppendValue(std::string& out, const RegistryValue& value) {
  std::string prefix = FormatName(value.name) + "=";
  const std::string& data = value.data;
  if (value.type == ValueType::String && data.size() <= kMaxQuotedString &&
      !regtext::HasControlCharacter(data)) {
    out += prefix + Quote(data) + "\n";
  } else if (value.type == ValueType::Dword && data.size() == 4) {
    uint32_t number = 0;
    for (int i = 3; i >= 0; --i) number = (number << 8) | static_cast<uint8_t>(data[i]);
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08x", number);
    out += prefix + "dword:" + digits + "\n";
  } else if (value.type == ValueType::Binary) {
    AppendHex(out, prefix + "hex:", data);
  } else {
    char type[16];
    std::snprintf(type, sizeof type, "hex(%x):", static_cast<unsigned>(value.type));
    AppendHex(out, prefix + type, data);
  }
}

// Reads a quoted text with \\ and \" escapes from the front of `text`,
// removing it; nothing if it is not properly closed.
std::optional<std::string> TakeQuoted(std::string_view& text) {
  if (text.empty() || text.front() != '"') return std::nullopt;
  std::string out;
  for (size_t i = 1; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') {
      text.remove_prefix(i + 1);
      return out;
    }
    if (c == '\\') {
      if (++i == text.size()) return std::nullopt;
      c = text[i];
    }
    out += c;
  }
  return std::nullopt;
}

std::optional<std::string> DecodeHexList(std::string_view list) {
  std::string bytes;
  if (list.empty()) return bytes;
  if ((list.size() + 1) / 3 > kMaxValueSize) return std::nullopt;
  for (size_t i = 0;; i += 3) {
    if (i + 2 > list.size()) return std::nullopt;
    int high = regtext::HexDigit(list[i]);
    int low = regtext::HexDigit(list[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes += static_cast<char>((high << 4) | low);
    if (i + 2 == list.size()) return bytes;
    if (list[i + 2] != ',') return std::nullopt;
  }
}

// "hex:" or "hex(N):" at the front of `text`: the type, with the prefix removed.
std::optional<ValueType> TakeHexType(std::string_view& text) {
  if (text.starts_with("hex:")) {
    text.remove_prefix(4);
    return ValueType::Binary;
  }
  if (!text.starts_with("hex(")) return std::nullopt;
  size_t close = text.find("):");
  if (close == std::string_view::npos) return std::nullopt;
  std::optional<uint32_t> type = regtext::ParseHex32(text.substr(4, close - 4));
  if (!type) return std::nullopt;
  text.remove_prefix(close + 2);
  return static_cast<ValueType>(*type);
}

class StoreTextParser {
 public:
  explicit StoreTextParser(std::string_view text) : lines_(text) {}

  std::vector<RegistryKey> run() {
    while (auto line = lines_.next()) {
      if (line->truncated) continue;
      std::string_view text = line->text;
      if (text.empty()) {
        key_.reset();
      } else if (text.front() == '[') {
        header(text);
      } else if (key_) {
        value(text);
      }
    }
    return store_.keys();
  }

 private:
  void header(std::string_view text) {
    key_.reset();
    if (text.back() != ']') return;
    text = text.substr(1, text.size() - 2);
    size_t slash = text.find('\\');
    std::string path(slash == std::string_view::npos ? std::string_view() : text.substr(slash + 1));
    if (store_.createKey(path)) key_ = std::move(path);
  }

  void value(std::string_view text) {
    std::optional<std::string> name;
    if (text.front() == '@') {
      name.emplace();
      text.remove_prefix(1);
    } else {
      name = TakeQuoted(text);
    }
    if (!name || !text.starts_with('=')) return;
    text.remove_prefix(1);
    if (text.starts_with('"')) {
      std::optional<std::string> data = TakeQuoted(text);
      if (data && text.empty()) store_.setString(*key_, *name, std::move(*data));
    } else if (text.starts_with("dword:")) {
      std::string_view digits = text.substr(6);
      std::optional<uint32_t> number = regtext::ParseHex32(digits);
      if (number && digits.size() == 8) store_.setDword(*key_, *name, *number);
    } else if (std::optional<ValueType> type = TakeHexType(text)) {
      std::optional<std::string> list = collectHex(text);
      std::optional<std::string> bytes = list ? DecodeHexList(*list) : std::nullopt;
      if (bytes) store_.setRaw(*key_, *name, *type, std::move(*bytes));
    }
  }

  // Joins a hex list with its backslash-continued lines.
  std::optional<std::string> collectHex(std::string_view first) {
    std::string list;
    std::string_view part = first;
    bool good = true;
    while (part.ends_with('\\')) {
      part.remove_suffix(1);
      if (list.size() + part.size() > 3 * kMaxValueSize) good = false;
      if (good) list += part;
      std::optional<regtext::Line> next = lines_.next();
      if (!next || next->text.empty()) {
        key_.reset();
        return std::nullopt;
      }
      good = good && !next->truncated;
      part = next->text;
      part.remove_prefix(std::min(part.find_first_not_of(' '), part.size()));
    }
    if (!good) return std::nullopt;
    list += part;
    return list;
  }

  regtext::LineSplitter lines_;
  RegistryStore store_{std::filesystem::path()};
  std::optional<std::string> key_;
};

}  // namespace

std::string FormatRegistryText(const std::vector<RegistryKey>& keys) {
  std::string out = "REGEDIT4\n\n";
  for (const RegistryKey& key : keys) {
    out += "[" + std::string(kRoot) + (key.path.empty() ? "" : "\\") + key.path + "]\n";
    for (const RegistryValue& value : key.values) AppendValue(out, value);
    out += "\n";
  }
  return out;
}

std::vector<RegistryKey> ParseRegistryText(std::string_view text) {
  return StoreTextParser(text).run();
}

}  // namespace talvek::settings
