// The accounts file: fixed 924-byte records, each checksummed over its first
// half and Blowfish-encrypted (block by block) under a key taken from the
// machine's system volume serial, so it reads back only on this machine.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "accounts/account_store.h"
#include "accounts/blowfish.h"

namespace talvek::accounts {

inline constexpr size_t kRecordSize = 924;
using RecordBytes = std::array<uint8_t, kRecordSize>;

// Field sizes in the record; a field holds one character less than its size.
inline constexpr size_t kNameField = 64, kPasswordField = 64, kPathField = 260;

// The key schedule runs once per cipher, not per record.
class AccountsCipher {
 public:
  explicit AccountsCipher(std::string_view key_text);
  void encrypt(RecordBytes& record) const;
  void decrypt(RecordBytes& record) const;

 private:
  Blowfish cipher_;
};

// The plain record of an account (texts cut to their fields), checksummed.
RecordBytes PackRecord(const AccountRecord& account);
// The account in a plain record; every text ends at its first NUL or its field.
AccountRecord UnpackRecord(const RecordBytes& record);

struct DecodedFile {
  std::vector<AccountRecord> accounts;  // damaged ones carry their file bytes
  bool corrupt = false;
  bool unreadable = false;  // two bytes or more, and not one record decrypts
};
DecodedFile DecodeAccountsFile(std::string_view bytes, const AccountsCipher& cipher);
// Damaged records are written back byte for byte.
std::string EncodeAccountsFile(const std::vector<AccountRecord>& accounts, const AccountsCipher& cipher);

}  // namespace talvek::accounts
