#include "accounts/account_store.h"

#include <cerrno>
#include <fstream>
#include <sstream>

#include "accounts/accounts_file.h"
#include "platform/atomic_file.h"

namespace talvek::accounts {

namespace {
// An accounts file is a few records; anything far larger is not ours.
constexpr std::streamsize kMaxFileBytes = 64 << 20;
}  // namespace

const AccountRecord* AccountStore::findLocked(const std::string& name) const {
  for (const auto& record : records_)
    if (record.name == name) return &record;
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
  return record && !record->damaged && !record->name.empty() && record->password == password;
}

uint8_t AccountStore::permissionsOf(const std::string& name) const {
  std::lock_guard lock(mutex_);
  const AccountRecord* record = findLocked(name);
  return record ? record->permissions : 0;
}

std::string AccountStore::homeDirOf(const std::string& name, const std::string& ftp_root) const {
  std::lock_guard lock(mutex_);
  const AccountRecord* record = findLocked(name);
  return record && !record->homeDir.empty() ? record->homeDir : ftp_root;
}

bool AccountStore::redirectUploadsOf(const std::string& name) const {
  std::lock_guard lock(mutex_);
  const AccountRecord* record = findLocked(name);
  return record ? record->redirectUploads : true;
}

std::string AccountStore::uploadDirOf(const std::string& name, const std::string& uploads_dir) const {
  std::lock_guard lock(mutex_);
  const AccountRecord* record = findLocked(name);
  return record && record->redirectUploads ? record->uploadsDir : uploads_dir;
}

void AccountStore::append(AccountRecord record) {
  std::lock_guard lock(mutex_);
  records_.push_back(std::move(record));
}

bool AccountStore::replace(const std::string& name, AccountRecord record) {
  std::lock_guard lock(mutex_);
  for (auto& existing : records_)
    if (existing.name == name) {
      existing = std::move(record);
      return true;
    }
  return false;
}

bool AccountStore::remove(const std::string& name) {
  std::lock_guard lock(mutex_);
  for (auto it = records_.begin(); it != records_.end(); ++it)
    if (it->name == name) {
      records_.erase(it);
      return true;
    }
  return false;
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

void AccountStore::clear() {
  std::lock_guard lock(mutex_);
  records_.clear();
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
  LoadResult result;
  {
    std::lock_guard lock(mutex_);
    corrupt_ = false;
    file_path_ = path;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    result.error = errno == ENOENT ? 0 : errno;
    return result;
  }
  std::ostringstream content;
  content << in.rdbuf();
  std::string bytes = content.str();
  if (static_cast<std::streamsize>(bytes.size()) > kMaxFileBytes) {
    result.error = EFBIG;
    return result;
  }
  DecodedFile decoded = DecodeAccountsFile(bytes, AccountsCipher(key_text));
  std::lock_guard lock(mutex_);
  corrupt_ = decoded.corrupt;
  result.corrupt = decoded.corrupt;
  result.loaded = decoded.accounts.size();
  for (auto& account : decoded.accounts) records_.push_back(std::move(account));
  return result;
}

LoadResult AccountStore::reload(const std::string& key_text) {
  std::filesystem::path path;
  {
    std::lock_guard lock(mutex_);
    records_.clear();
    path = file_path_;
  }
  return load(path, key_text);
}

int AccountStore::save(const std::string& key_text) const {
  std::string bytes;
  std::filesystem::path path;
  {
    std::lock_guard lock(mutex_);
    if (file_path_.empty()) return ENOENT;
    bytes = EncodeAccountsFile(records_, AccountsCipher(key_text));
    path = file_path_;
  }
  return platform::WriteFileAtomically(path, bytes, 0600);
}

bool AccountStore::corrupt() const {
  std::lock_guard lock(mutex_);
  return corrupt_;
}

std::filesystem::path AccountStore::filePath() const {
  std::lock_guard lock(mutex_);
  return file_path_;
}

void AccountStore::setFilePath(std::filesystem::path path) {
  std::lock_guard lock(mutex_);
  file_path_ = std::move(path);
}

}  // namespace talvek::accounts
