// The accounts file reader. The input is taken either as file bytes as they
// are or as plain records that are packed and encrypted first, so the fuzzer
// reaches the field decoding behind the cipher. Every record is read (damaged
// or not), texts stay within their fields, a save writes damaged records back
// byte for byte, and a second save changes nothing more.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "accounts/accounts_file.h"
#include "fuzz_check.h"

namespace {

namespace ac = talvek::accounts;

const ac::AccountsCipher& Cipher() {
  static const ac::AccountsCipher cipher("fuzz-volume-serial");
  return cipher;
}

bool IsPrefix(const std::string& cut, const std::string& whole) { return whole.compare(0, cut.size(), cut) == 0; }

void CheckDecoded(std::string_view bytes, const ac::DecodedFile& decoded) {
  FUZZ_CHECK(decoded.accounts.size() == bytes.size() / ac::kRecordSize, "one account per whole record");
  bool damaged = false;
  for (const auto& account : decoded.accounts) {
    damaged = damaged || account.damaged();
    FUZZ_CHECK(account.name.size() <= ac::kNameField && account.password.size() <= ac::kPasswordField &&
                   account.homeDir.size() <= ac::kPathField && account.uploadsDir.size() <= ac::kPathField &&
                   account.logonMessageFile.size() <= ac::kPathField,
               "texts end within their fields");
    FUZZ_CHECK(account.permissions <= 7, "three permission bits");
  }
  bool partial = bytes.size() % ac::kRecordSize >= 2;
  FUZZ_CHECK(decoded.corrupt == (damaged || partial), "corrupt exactly for damage or a partial record");
}

// Saving keeps every record: damaged ones byte for byte, the others with
// their texts cut to their fields; a second save changes nothing more.
void CheckSaveIsStable(const ac::DecodedFile& decoded) {
  std::string once = ac::EncodeAccountsFile(decoded.accounts, Cipher());
  ac::DecodedFile first = ac::DecodeAccountsFile(once, Cipher());
  FUZZ_CHECK(first.accounts.size() == decoded.accounts.size(), "a save writes every record back");
  for (size_t i = 0; i < first.accounts.size(); ++i) {
    const auto& before = decoded.accounts[i];
    const auto& after = first.accounts[i];
    if (before.damaged()) {
      FUZZ_CHECK(after.damaged() && after.damagedBytes == before.damagedBytes, "damaged records are kept as read");
      continue;
    }
    FUZZ_CHECK(!after.damaged(), "a sound record stays sound");
    FUZZ_CHECK(IsPrefix(after.name, before.name) && IsPrefix(after.password, before.password) &&
                   IsPrefix(after.homeDir, before.homeDir) && IsPrefix(after.uploadsDir, before.uploadsDir) &&
                   IsPrefix(after.logonMessageFile, before.logonMessageFile),
               "saving only cuts texts");
    FUZZ_CHECK(after.permissions == before.permissions && after.redirectUploads == before.redirectUploads &&
                   after.customLogonMessage == before.customLogonMessage,
               "saving keeps rights and flags");
  }
  std::string twice = ac::EncodeAccountsFile(first.accounts, Cipher());
  FUZZ_CHECK(twice == once, "a second save writes the same bytes");
}

void Check(std::string_view bytes) {
  ac::DecodedFile decoded = ac::DecodeAccountsFile(bytes, Cipher());
  CheckDecoded(bytes, decoded);
  CheckSaveIsStable(decoded);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte chooses: the rest as file bytes, or as plain records.
  std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  if ((data[0] & 1) == 0) {
    Check(bytes);
    return 0;
  }
  // Plain records, packed and encrypted as a save would.
  std::string encrypted(bytes);
  for (size_t at = 0; at + ac::kRecordSize <= encrypted.size(); at += ac::kRecordSize) {
    ac::RecordBytes plain;
    std::memcpy(plain.data(), encrypted.data() + at, ac::kRecordSize);
    ac::RecordBytes record = ac::PackRecord(ac::UnpackRecord(plain));
    Cipher().encrypt(record);
    std::memcpy(encrypted.data() + at, record.data(), ac::kRecordSize);
  }
  ac::DecodedFile decoded = ac::DecodeAccountsFile(encrypted, Cipher());
  for (const auto& account : decoded.accounts) FUZZ_CHECK(!account.damaged(), "a packed record is not damaged");
  CheckDecoded(encrypted, decoded);
  CheckSaveIsStable(decoded);
  return 0;
}
