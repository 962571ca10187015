#include "settings/registry_store.h"

#include <algorithm>

#include "platform/atomic_file.h"
#include "settings/reg_text.h"

namespace talvek::settings {

using regtext::EqualsIgnoringCase;

bool IsAcceptableName(std::string_view name) {
  return name.size() <= kMaxNameLength && !regtext::HasControlCharacter(name);
}

RegistryStore::RegistryStore(std::filesystem::path file) : file_(std::move(file)) {}

bool RegistryStore::load() {
  regtext::FileText text = regtext::ReadFileBounded(file_);
  if (text.missing) {
    keys_.clear();
    return true;
  }
  if (text.error != 0) return false;
  keys_ = ParseRegistryText(text.content);
  return true;
}

int RegistryStore::save() const {
  return platform::WriteFileAtomically(file_, FormatRegistryText(keys_), 0600);
}

const RegistryKey* RegistryStore::findKey(std::string_view key) const {
  auto it = std::find_if(keys_.begin(), keys_.end(),
                         [&](const RegistryKey& k) { return EqualsIgnoringCase(k.path, key); });
  return it == keys_.end() ? nullptr : &*it;
}

RegistryKey* RegistryStore::findKey(std::string_view key) {
  return const_cast<RegistryKey*>(static_cast<const RegistryStore*>(this)->findKey(key));
}

const RegistryValue* RegistryStore::find(std::string_view key, std::string_view name) const {
  const RegistryKey* k = findKey(key);
  if (k == nullptr) return nullptr;
  auto it = std::find_if(k->values.begin(), k->values.end(),
                         [&](const RegistryValue& v) { return EqualsIgnoringCase(v.name, name); });
  return it == k->values.end() ? nullptr : &*it;
}

std::optional<std::string> RegistryStore::getString(std::string_view key, std::string_view name) const {
  const RegistryValue* value = find(key, name);
  if (value == nullptr || value->type != ValueType::String) return std::nullopt;
  return value->data;
}

std::optional<uint32_t> RegistryStore::getDword(std::string_view key, std::string_view name) const {
  const RegistryValue* value = find(key, name);
  if (value == nullptr || value->type != ValueType::Dword || value->data.size() != 4) return std::nullopt;
  uint32_t result = 0;
  for (int i = 3; i >= 0; --i) result = (result << 8) | static_cast<uint8_t>(value->data[i]);
  return result;
}

std::optional<std::vector<uint8_t>> RegistryStore::getBinary(std::string_view key,
                                                             std::string_view name) const {
  const RegistryValue* value = find(key, name);
  if (value == nullptr || (value->type != ValueType::None && value->type != ValueType::Binary)) {
    return std::nullopt;
  }
  return std::vector<uint8_t>(value->data.begin(), value->data.end());
}

bool RegistryStore::createKey(std::string_view key) {
  if (!IsAcceptableName(key)) return false;
  if (findKey(key) == nullptr) keys_.push_back(RegistryKey{std::string(key), {}});
  return true;
}

bool RegistryStore::setRaw(std::string_view key, std::string_view name, ValueType type, std::string data) {
  if (!IsAcceptableName(name) || data.size() > kMaxValueSize || !createKey(key)) return false;
  RegistryKey* k = findKey(key);
  for (RegistryValue& value : k->values) {
    if (EqualsIgnoringCase(value.name, name)) {
      value.type = type;
      value.data = std::move(data);
      return true;
    }
  }
  k->values.push_back(RegistryValue{std::string(name), type, std::move(data)});
  return true;
}

bool RegistryStore::setString(std::string_view key, std::string_view name, std::string text) {
  return setRaw(key, name, ValueType::String, std::move(text));
}

bool RegistryStore::setDword(std::string_view key, std::string_view name, uint32_t value) {
  std::string data(4, '\0');
  for (int i = 0; i < 4; ++i) data[i] = static_cast<char>((value >> (8 * i)) & 0xff);
  return setRaw(key, name, ValueType::Dword, std::move(data));
}

bool RegistryStore::setBinary(std::string_view key, std::string_view name, std::vector<uint8_t> bytes,
                              ValueType type) {
  return setRaw(key, name, type, std::string(bytes.begin(), bytes.end()));
}

void RegistryStore::mergeChanges(const RegistryStore& base, const RegistryStore& mine) {
  for (const RegistryKey& key : mine.keys_) {
    for (const RegistryValue& value : key.values) {
      const RegistryValue* before = base.find(key.path, value.name);
      if (before && *before == value) continue;
      const RegistryValue* here = find(key.path, value.name);
      bool bytewise = before && here && before->type == value.type && here->type == value.type &&
                      before->data.size() == value.data.size() && here->data.size() == value.data.size();
      if (!bytewise) {
        setRaw(key.path, value.name, value.type, value.data);
        continue;
      }
      std::string merged = here->data;
      for (size_t i = 0; i < merged.size(); ++i)
        if (value.data[i] != before->data[i]) merged[i] = value.data[i];
      setRaw(key.path, value.name, value.type, std::move(merged));
    }
  }
}

}  // namespace talvek::settings
