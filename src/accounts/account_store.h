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
  // Read from a record that failed its checksum: shown, never logs in, not saved.
  bool damaged = false;

  bool operator==(const AccountRecord&) const = default;
};

inline constexpr uint8_t kRead = 1, kWrite = 2, kDelete = 4;

// What a load found, for the caller to report.
struct LoadResult {
  int error = 0;         // errno of a file that could not be read (0: fine or missing)
  bool corrupt = false;  // a partial record or a failed checksum
  size_t loaded = 0;
};

class AccountStore {
 public:
  AccountStore() = default;
  AccountStore(const AccountStore&) = delete;
  AccountStore& operator=(const AccountStore&) = delete;

  // The first record with exactly this name.
  std::optional<AccountRecord> find(const std::string& name) const;
  bool exists(const std::string& name) const { return find(name).has_value(); }
  bool checkPassword(const std::string& name, const std::string& password) const;
  uint8_t permissionsOf(const std::string& name) const;
  // The account's home directory, or `ftp_root` when it has none.
  std::string homeDirOf(const std::string& name, const std::string& ftp_root) const;
  // 1 when there is no such account.
  bool redirectUploadsOf(const std::string& name) const;
  // The account's uploads directory when it redirects, else `uploads_dir`.
  std::string uploadDirOf(const std::string& name, const std::string& uploads_dir) const;

  void append(AccountRecord record);
  // Replaces the first record named `name`; false when there is none.
  bool replace(const std::string& name, AccountRecord record);
  bool remove(const std::string& name);
  // By position in store order, for editors whose list may hold equal names.
  bool replaceAt(size_t index, AccountRecord record);
  bool removeAt(size_t index);
  void clear();
  std::vector<AccountRecord> records() const;
  size_t size() const;

  // Appends the accounts of the file at `path` (encrypted under `key_text`)
  // and remembers the path for save. A missing file loads nothing.
  LoadResult load(const std::filesystem::path& path, const std::string& key_text);
  // Clears the store and loads the remembered path again.
  LoadResult reload(const std::string& key_text);
  // Writes every account to the remembered path, atomically, mode 0600.
  // Returns 0 or errno; on failure the old file stays whole.
  int save(const std::string& key_text) const;

  bool corrupt() const;
  std::filesystem::path filePath() const;
  void setFilePath(std::filesystem::path path);

 private:
  const AccountRecord* findLocked(const std::string& name) const;

  mutable std::mutex mutex_;
  std::vector<AccountRecord> records_;
  std::filesystem::path file_path_;
  bool corrupt_ = false;
};

// The operator's warning for a damaged accounts file.
inline constexpr const char* kCorruptAccountsText =
    "THE USER ACCOUNTS FILE APPEARS TO BE CORRUPTED.\r\nVerify all account information before activating the server!";
inline constexpr const char* kCorruptAccountsCaption = "WARNING";

}  // namespace talvek::accounts
