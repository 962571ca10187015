#include "accounts/account_store.h"

#include <cerrno>

#include "accounts/accounts_file.h"
#include "platform/atomic_file.h"

namespace talvek::accounts {

namespace {
// An accounts file is a few records; anything far larger is not ours.
constexpr size_t kMaxFileBytes = 64 << 20;
}  // namespace

const AccountRecord* AccountStore::findLocked(const std::string& name) const {
  for (const auto& record : records_)
    if (!record.damaged() && record.name == name) return &record;
  return nullptr;
}

std::optional<AccountRecord> AccountStore::find(const std::string& name) const {
  std::lock_guard lock(mutex_);
  const AccountRecord* record = findLocked(name);
  if (!record) return std::nullopt;
  return *record;
}

bool AccountStore::checkPassword(const std::string& name, const std::string& password) const {
  std::lock_guard lock(mutex_);
  const AccountRecord* record = findLocked(name);
  return record && !record->name.empty() && record->password == password;
}

void AccountStore::append(AccountRecord record) {
  std::lock_guard lock(mutex_);
  records_.push_back(std::move(record));
}

bool AccountStore::replace(const std::string& name, AccountRecord record) {
  std::lock_guard lock(mutex_);
  auto* existing = const_cast<AccountRecord*>(findLocked(name));
  if (!existing) return false;
  *existing = std::move(record);
  return true;
}

bool AccountStore::remove(const std::string& name) {
  std::lock_guard lock(mutex_);
  const AccountRecord* existing = findLocked(name);
  if (!existing) return false;
  records_.erase(records_.begin() + (existing - records_.data()));
  return true;
}

bool AccountStore::replaceAt(size_t index, AccountRecord record) {
  std::lock_guard lock(mutex_);
  if (index >= records_.size()) return false;
  records_[index] = std::move(record);
  return true;
}

bool AccountStore::removeAt(size_t index) {
  std::lock_guard lock(mutex_);
  if (index >= records_.size()) return false;
  records_.erase(records_.begin() + static_cast<std::ptrdiff_t>(index));
  return true;
}

void AccountStore::replaceAll(std::vector<AccountRecord> records) {
  std::lock_guard lock(mutex_);
  records_.swap(records);
}

std::vector<AccountRecord> AccountStore::records() const {
  std::lock_guard lock(mutex_);
  return records_;
}

size_t AccountStore::size() const {
  std::lock_guard lock(mutex_);
  return records_.size();
}

LoadResult AccountStore::load(const std::filesystem::path& path, const std::string& key_text) {
  AccountsFileContent content = ReadAccountsFile(path, key_text);
  std::lock_guard lock(mutex_);
  file_path_ = path;
  if (content.result.error == 0) records_ = std::move(content.records);
  return content.result;
}

std::filesystem::path AccountStore::filePath() const {
  std::lock_guard lock(mutex_);
  return file_path_;
}

AccountsFileContent ReadAccountsFile(const std::filesystem::path& path, const std::string& key_text) {
  AccountsFileContent content;
  std::string text;
  if (int error = platform::ReadWholeFile(path, kMaxFileBytes, text)) {
    content.result.error = error == ENOENT ? 0 : error;
    return content;
  }
  DecodedFile decoded = DecodeAccountsFile(text, AccountsCipher(key_text));
  content.result.corrupt = decoded.corrupt;
  content.result.unreadable = decoded.unreadable;
  content.records = std::move(decoded.accounts);
  return content;
}

int WriteAccountsFile(const std::filesystem::path& path, const std::vector<AccountRecord>& records,
                      const std::string& key_text) {
  if (path.empty()) return ENOENT;
  return platform::WriteFileAtomically(path, EncodeAccountsFile(records, AccountsCipher(key_text)), 0600);
}

}  // namespace talvek::accounts
