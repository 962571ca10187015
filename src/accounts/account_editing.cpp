#include "accounts/account_editing.h"

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
  updated.damaged = false;
  store.replace(account.name, updated);
  return AddOutcome::OverwroteExisting;
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
