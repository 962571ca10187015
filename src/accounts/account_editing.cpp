#include "accounts/account_editing.h"

#include <cstring>

#include "platform/atomic_file.h"

namespace talvek::accounts {

namespace {
bool HasControlCharacters(const std::string& text) {
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7f) return true;
  return false;
}
}  // namespace

std::string ValidateAccount(const AccountRecord& account, const std::string& ftp_root) {
  if (account.name.empty()) return "A user name is required.";
  if (account.name.size() > 63) return "The user name is longer than 63 characters.";
  if (account.password.size() > 63) return "The password is longer than 63 characters.";
  if (HasControlCharacters(account.name) || HasControlCharacters(account.password))
    return "User names and passwords cannot hold control characters.";
  if (account.homeDir.size() > 255) return "The home directory is longer than 255 characters.";
  if (account.uploadsDir.size() > 255) return "The uploads directory is longer than 255 characters.";
  if (account.logonMessageFile.size() > 259) return "The logon message file path is longer than 259 characters.";
  if (account.homeDir.compare(0, ftp_root.size(), ftp_root) != 0 || account.homeDir.size() < ftp_root.size())
    return kHomeOutsideRootText;
  return {};
}

AddOutcome AddAccount(AccountStore& store, const AccountRecord& account) {
  auto existing = store.find(account.name);
  if (!existing) {
    store.append(account);
    return AddOutcome::Appended;
  }
  AccountRecord updated = *existing;
  updated.name = account.name;
  updated.password = account.password;
  updated.permissions = account.permissions;
  store.replace(account.name, updated);
  return AddOutcome::OverwroteExisting;
}

FileEdit EditAccountsFile(const std::filesystem::path& file, const std::string& key_text,
                          const std::function<std::string(std::vector<AccountRecord>&)>& change) {
  FileEdit edit;
  platform::FileEditLock lock(file);
  if ((edit.error = lock.error()) != 0) {
    edit.status = FileEdit::WriteFailed;  // no lock file: the file cannot be written either
    return edit;
  }
  AccountsFileContent content = ReadAccountsFile(file, key_text);
  if ((edit.error = content.result.error) != 0) {
    edit.status = FileEdit::Unreadable;
    return edit;
  }
  edit.corrupt = content.result.corrupt;
  if (content.result.unreadable) {
    edit.status = FileEdit::WrongKey;
    return edit;
  }
  if (!(edit.refusal = change(content.records)).empty()) {
    edit.status = FileEdit::Refused;
    return edit;
  }
  if ((edit.error = WriteAccountsFile(file, content.records, key_text)) != 0) {
    edit.status = FileEdit::WriteFailed;
    return edit;
  }
  edit.records = std::move(content.records);
  return edit;
}

std::string FileEditProblem(const FileEdit& edit, const std::filesystem::path& file) {
  switch (edit.status) {
    case FileEdit::Saved: return {};
    case FileEdit::Refused: return edit.refusal;
    case FileEdit::Unreadable: return "Cannot read the accounts file " + file.string() + ": " + std::strerror(edit.error);
    case FileEdit::WriteFailed: return "Cannot write the accounts file " + file.string() + ": " + std::strerror(edit.error);
    case FileEdit::WrongKey: break;
  }
  return "No record of the accounts file " + file.string() +
         " can be read with this machine's key (it was written on another machine, or the key changed), "
         "so it was left as it is. To start a new accounts file, name one with the LogonFile setting.";
}

namespace {

// Which record of a list a record is, across the three lists of a merge.
std::string MergeKey(const AccountRecord& record) {
  return record.damaged() ? std::string(1, '\0') + record.damagedBytes : record.name;
}

const AccountRecord* FindByKey(const std::vector<AccountRecord>& records, const std::string& key) {
  for (const auto& record : records)
    if (MergeKey(record) == key) return &record;
  return nullptr;
}

}  // namespace

std::optional<std::vector<AccountRecord>> MergeAccounts(const std::vector<AccountRecord>& base,
                                                        const std::vector<AccountRecord>& mine,
                                                        const std::vector<AccountRecord>& disk,
                                                        std::string& conflict) {
  std::vector<AccountRecord> merged;
  auto clash = [&](const AccountRecord& record) {
    conflict = record.name;
    return std::nullopt;
  };
  // What the file holds now, with my changes to those records.
  for (const auto& on_disk : disk) {
    std::string key = MergeKey(on_disk);
    const AccountRecord* before = FindByKey(base, key);
    const AccountRecord* after = FindByKey(mine, key);
    bool changed_here = before ? !after || *after != *before : after != nullptr;
    bool changed_there = before ? on_disk != *before : true;
    if (!changed_here) {
      merged.push_back(on_disk);
    } else if (!changed_there || (after && *after == on_disk)) {
      if (after) merged.push_back(*after);
    } else {
      return clash(on_disk);
    }
  }
  // My records the file does not hold: added here, or removed there.
  for (const auto& record : mine) {
    std::string key = MergeKey(record);
    if (FindByKey(disk, key)) continue;
    const AccountRecord* before = FindByKey(base, key);
    if (!before) merged.push_back(record);
    else if (*before != record) return clash(record);
  }
  return merged;
}

std::optional<uint8_t> ParsePermissions(const std::string& letters) {
  uint8_t permissions = 0;
  for (char letter : letters) {
    switch (letter) {
      case 'r': permissions |= kRead; break;
      case 'w': permissions |= kWrite; break;
      case 'd': permissions |= kDelete; break;
      default: return std::nullopt;
    }
  }
  return permissions;
}

std::string PermissionLetters(uint8_t permissions) {
  std::string letters = "---";
  if (permissions & kRead) letters[0] = 'r';
  if (permissions & kWrite) letters[1] = 'w';
  if (permissions & kDelete) letters[2] = 'd';
  return letters;
}

}  // namespace talvek::accounts
