// The named accounts: an ordered list of account records, filled from the
// accounts file and consulted by login. Owned by the server object; safe to
// use from any thread (one lock per operation; lookups return copies).
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace talvek::accounts {

// One named user.
struct AccountRecord {
  std::string name;              // as sent with USER, case-sensitive
  std::string password;          // in clear in memory; the file is encrypted
  std::string homeDir;           // inside the FTP root
  std::string uploadsDir;        // where uploads go when redirectUploads is set
  std::string logonMessageFile;  // sent after login when customLogonMessage is set
  uint8_t permissions = 0;       // 1 read, 2 write, 4 delete
  bool redirectUploads = false;
  bool customLogonMessage = false;
  // The file bytes of a record that failed its checksum: shown as read,
  // never logs in, found by no name, written back unchanged.
  std::string damagedBytes;

  bool damaged() const { return !damagedBytes.empty(); }
  bool operator==(const AccountRecord&) const = default;
};

inline constexpr uint8_t kRead = 1, kWrite = 2, kDelete = 4;

// What a load found, for the caller to report.
struct LoadResult {
  int error = 0;            // errno of a file that could not be read (0: fine or missing)
  bool corrupt = false;     // a partial record or a failed checksum
  bool unreadable = false;  // not one record decrypts under this machine's key
};

class AccountStore {
 public:
  AccountStore() = default;
  AccountStore(const AccountStore&) = delete;
  AccountStore& operator=(const AccountStore&) = delete;

  // The first undamaged record with exactly this name.
  std::optional<AccountRecord> find(const std::string& name) const;
  bool exists(const std::string& name) const { return find(name).has_value(); }
  bool checkPassword(const std::string& name, const std::string& password) const;

  void append(AccountRecord record);
  // Replaces the first undamaged record named `name`; false when there is none.
  bool replace(const std::string& name, AccountRecord record);
  bool remove(const std::string& name);
  // By position in store order, for editors whose list may hold equal names.
  bool replaceAt(size_t index, AccountRecord record);
  bool removeAt(size_t index);
  // Swaps in a whole new list at once: a lookup sees the old or the new one.
  void replaceAll(std::vector<AccountRecord> records);
  std::vector<AccountRecord> records() const;
  size_t size() const;

  // Replaces the store with the accounts of the file at `path` (encrypted
  // under `key_text`) in one swap and remembers the path. A missing file
  // gives an empty store; a file that cannot be read keeps the old content.
  LoadResult load(const std::filesystem::path& path, const std::string& key_text);
  std::filesystem::path filePath() const;

 private:
  const AccountRecord* findLocked(const std::string& name) const;

  mutable std::mutex mutex_;
  std::vector<AccountRecord> records_;
  std::filesystem::path file_path_;
};

// The accounts of the file at `path`: a missing file is empty (error 0).
struct AccountsFileContent {
  LoadResult result;
  std::vector<AccountRecord> records;
};
AccountsFileContent ReadAccountsFile(const std::filesystem::path& path, const std::string& key_text);
// Writes `records` atomically with mode 0600; 0 or errno (the old file then stays).
int WriteAccountsFile(const std::filesystem::path& path, const std::vector<AccountRecord>& records,
                      const std::string& key_text);

// The operator's warning for a damaged accounts file.
inline constexpr const char* kCorruptAccountsText =
    "THE USER ACCOUNTS FILE APPEARS TO BE CORRUPTED.\r\nVerify all account information before activating the server!";
inline constexpr const char* kCorruptAccountsCaption = "WARNING";

}  // namespace talvek::accounts
