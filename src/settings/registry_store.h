// The per-user settings store: registry-like keys holding named, typed values,
// kept in one human-readable file in registry-export syntax. The store owns
// its keys and values; the file is replaced whole on every save.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talvek::settings {

inline constexpr std::string_view kSettingsKey = "Software\\Talvek\\Talvek FTP\\Settings";

// Registry value types. Values of other types read from the file are kept
// with their number (any uint32_t may be held in a ValueType).
enum class ValueType : uint32_t { None = 0, String = 1, Binary = 3, Dword = 4 };

// Names and key paths longer than this, or holding control characters, are refused.
inline constexpr size_t kMaxNameLength = 16383;
// Values larger than this are refused (and skipped when read).
inline constexpr size_t kMaxValueSize = 16 * 1024 * 1024;

struct RegistryValue {
  std::string name;
  ValueType type = ValueType::None;
  std::string data;  // raw bytes; a string's text without a terminating NUL
  bool operator==(const RegistryValue&) const = default;
};

struct RegistryKey {
  std::string path;
  std::vector<RegistryValue> values;  // in insertion order
  bool operator==(const RegistryKey&) const = default;
};

class RegistryStore {
 public:
  explicit RegistryStore(std::filesystem::path file);

  const std::filesystem::path& file() const { return file_; }
  // Replaces the contents with the file's. A missing file gives an empty
  // store; malformed lines are skipped. False (contents unchanged) only when
  // an existing file cannot be read.
  bool load();
  // Writes the whole file atomically with mode 0600; 0 or an errno.
  int save() const;

  std::optional<std::string> getString(std::string_view key, std::string_view name) const;
  std::optional<uint32_t> getDword(std::string_view key, std::string_view name) const;
  // Accepts values of type None and Binary.
  std::optional<std::vector<uint8_t>> getBinary(std::string_view key, std::string_view name) const;
  const RegistryValue* find(std::string_view key, std::string_view name) const;
  bool contains(std::string_view key, std::string_view name) const { return find(key, name) != nullptr; }

  // Setters replace a value in place (keeping its position) or append it.
  // They return false, changing nothing, for an unacceptable key, name or size.
  bool setString(std::string_view key, std::string_view name, std::string text);
  bool setDword(std::string_view key, std::string_view name, uint32_t value);
  bool setBinary(std::string_view key, std::string_view name, std::vector<uint8_t> bytes,
                 ValueType type = ValueType::Binary);
  bool setRaw(std::string_view key, std::string_view name, ValueType type, std::string data);
  // Opens the key, creating it empty when missing; false for an unacceptable path.
  bool createKey(std::string_view key);

  const std::vector<RegistryKey>& keys() const { return keys_; }

  // Takes over what `mine` changed since `base`: each changed value, and of a
  // changed block of the same size only its changed bytes, so that changes
  // this store holds elsewhere (another writer's) stay.
  void mergeChanges(const RegistryStore& base, const RegistryStore& mine);

 private:
  RegistryKey* findKey(std::string_view key);
  const RegistryKey* findKey(std::string_view key) const;

  std::filesystem::path file_;
  std::vector<RegistryKey> keys_;
};

// The file text of `keys` and its reverse; ParseRegistryText skips what it
// cannot read. Formatting then parsing gives back the same keys exactly.
std::string FormatRegistryText(const std::vector<RegistryKey>& keys);
std::vector<RegistryKey> ParseRegistryText(std::string_view text);
bool IsAcceptableName(std::string_view name);

}  // namespace talvek::settings
