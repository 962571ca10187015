// The operator's account operations (add, modify, remove) with the rules an
// account must satisfy, shared by the daemon's command and the console.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

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

// A locked read-modify-write of the accounts file: holds its edit lock,
// reads it, lets `change` edit the records (returning "" to save, or the
// reason it refuses), and writes them back. A file of which no record
// decrypts under this machine's key is never written over.
struct FileEdit {
  enum Status { Saved, Refused, Unreadable, WrongKey, WriteFailed } status = Saved;
  int error = 0;        // errno for Unreadable and WriteFailed
  bool corrupt = false;  // the file held damaged records (kept as they are)
  std::string refusal;  // what `change` said
  std::vector<AccountRecord> records;  // as saved
};
FileEdit EditAccountsFile(const std::filesystem::path& file, const std::string& key_text,
                          const std::function<std::string(std::vector<AccountRecord>&)>& change);
// The operator's text for a failed edit.
std::string FileEditProblem(const FileEdit& edit, const std::filesystem::path& file);

// Applies an editor's changes (`base` as it opened, `mine` as it closes) to
// the file's records `disk` as they are now; records are matched by name (a
// damaged one by its bytes). Returns the merged list, or nothing with
// `conflict` naming an account that both sides changed differently.
std::optional<std::vector<AccountRecord>> MergeAccounts(const std::vector<AccountRecord>& base,
                                                        const std::vector<AccountRecord>& mine,
                                                        const std::vector<AccountRecord>& disk,
                                                        std::string& conflict);

// Permission letters r, w, d in any order ("" none); nothing for other letters.
std::optional<uint8_t> ParsePermissions(const std::string& letters);
// "rwd" with "-" for missing bits.
std::string PermissionLetters(uint8_t permissions);

}  // namespace talvek::accounts
