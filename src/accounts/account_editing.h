// The operator's account operations (add, modify, remove) with the rules an
// account must satisfy, shared by the daemon's command and the console.
#pragma once

#include <string>

#include "accounts/account_store.h"

namespace talvek::accounts {

inline constexpr const char* kHomeOutsideRootText =
    "Specified home directory is not located in the FTP directory tree.";

// "" when the account may be stored, else the reason (the home directory
// rule: the home must begin with the FTP root text, byte for byte).
std::string ValidateAccount(const AccountRecord& account, const std::string& ftp_root);

enum class AddOutcome { Appended, OverwroteExisting };

// Adds `account`; when its name is taken, the existing account takes the
// new name, password and permissions and keeps everything else.
AddOutcome AddAccount(AccountStore& store, const AccountRecord& account);

// Permission letters r, w, d in any order ("" none); nothing for other letters.
std::optional<uint8_t> ParsePermissions(const std::string& letters);
// "rwd" with "-" for missing bits.
std::string PermissionLetters(uint8_t permissions);

}  // namespace talvek::accounts
