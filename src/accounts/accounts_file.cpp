#include "accounts/accounts_file.h"

#include <algorithm>
#include <cstring>


namespace talvek::accounts {

namespace {

constexpr size_t kPermissionsAt = 0, kRedirectAt = 4, kCustomMessageAt = 8, kChecksumAt = 12;
constexpr size_t kNameAt = 16, kPasswordAt = 80, kLogonMessageAt = 144, kHomeAt = 404, kUploadsAt = 664;
constexpr size_t kChecksummedBytes = 462;
constexpr size_t kWholeBlocks = 115;  // bytes 0..919; the last 4 bytes form a padded tail

uint32_t LoadLittleEndian(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

void StoreLittleEndian(uint8_t* bytes, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

void PutText(RecordBytes& record, size_t at, size_t field, const std::string& text) {
  size_t length = std::min(text.size(), field - 1);
  std::memcpy(record.data() + at, text.data(), length);
}

std::string GetText(const RecordBytes& record, size_t at, size_t field) {
  const char* start = reinterpret_cast<const char*>(record.data() + at);
  size_t length = 0;
  while (length < field && start[length] != '\0') ++length;
  return std::string(start, length);
}

// Runs `operation` over the record's blocks; the 4-byte tail is padded with
// "?" and only its first half kept.
template <typename Operation>
void ForEachBlock(RecordBytes& record, Operation operation) {
  for (size_t block = 0; block < kWholeBlocks; ++block) {
    uint8_t* bytes = record.data() + block * 8;
    uint32_t left = LoadLittleEndian(bytes), right = LoadLittleEndian(bytes + 4);
    operation(left, right);
    StoreLittleEndian(bytes, left);
    StoreLittleEndian(bytes + 4, right);
  }
  uint8_t* tail = record.data() + kWholeBlocks * 8;
  uint32_t left = LoadLittleEndian(tail), right = 0x3f3f3f3fu;
  operation(left, right);
  StoreLittleEndian(tail, left);
}

// Computed with the checksum field as 0.
uint32_t RecordChecksum(const RecordBytes& record) {
  RecordBytes plain = record;
  StoreLittleEndian(plain.data() + kChecksumAt, 0);
  uint32_t sum = 0;
  for (size_t i = 0; i < kChecksummedBytes; ++i) sum += plain[i];
  uint32_t folded = (sum >> 16) + (sum & 0xffff);
  folded += folded >> 16;
  return ~folded;
}

bool ChecksumMatches(const RecordBytes& record) {
  return LoadLittleEndian(record.data() + kChecksumAt) == RecordChecksum(record);
}

}  // namespace

AccountsCipher::AccountsCipher(std::string_view key_text)
    : cipher_(std::span(reinterpret_cast<const uint8_t*>(key_text.data()), key_text.size())) {}

void AccountsCipher::encrypt(RecordBytes& record) const {
  ForEachBlock(record, [&](uint32_t& l, uint32_t& r) { cipher_.encryptBlock(l, r); });
}

void AccountsCipher::decrypt(RecordBytes& record) const {
  ForEachBlock(record, [&](uint32_t& l, uint32_t& r) { cipher_.decryptBlock(l, r); });
}

RecordBytes PackRecord(const AccountRecord& account) {
  RecordBytes record{};
  record[kPermissionsAt] = account.permissions & 7;
  StoreLittleEndian(record.data() + kRedirectAt, account.redirectUploads ? 1 : 0);
  StoreLittleEndian(record.data() + kCustomMessageAt, account.customLogonMessage ? 1 : 0);
  PutText(record, kNameAt, kNameField, account.name);
  PutText(record, kPasswordAt, kPasswordField, account.password);
  PutText(record, kLogonMessageAt, kPathField, account.logonMessageFile);
  PutText(record, kHomeAt, kPathField, account.homeDir);
  // The last 4 bytes of the uploads field do not survive encryption.
  PutText(record, kUploadsAt, kPathField - 4, account.uploadsDir);
  StoreLittleEndian(record.data() + kChecksumAt, RecordChecksum(record));
  return record;
}

AccountRecord UnpackRecord(const RecordBytes& record) {
  AccountRecord account;
  account.permissions = record[kPermissionsAt] & 7;
  account.redirectUploads = LoadLittleEndian(record.data() + kRedirectAt) != 0;
  account.customLogonMessage = LoadLittleEndian(record.data() + kCustomMessageAt) != 0;
  account.name = GetText(record, kNameAt, kNameField);
  account.password = GetText(record, kPasswordAt, kPasswordField);
  account.logonMessageFile = GetText(record, kLogonMessageAt, kPathField);
  account.homeDir = GetText(record, kHomeAt, kPathField);
  account.uploadsDir = GetText(record, kUploadsAt, kPathField - 4);
  return account;
}

DecodedFile DecodeAccountsFile(std::string_view bytes, const AccountsCipher& cipher) {
  DecodedFile decoded;
  size_t offset = 0;
  for (; offset + kRecordSize <= bytes.size(); offset += kRecordSize) {
    RecordBytes record;
    std::memcpy(record.data(), bytes.data() + offset, kRecordSize);
    cipher.decrypt(record);
    AccountRecord account = UnpackRecord(record);
    if (!ChecksumMatches(record)) {
      decoded.corrupt = true;
      account.damagedBytes.assign(bytes.substr(offset, kRecordSize));
    }
    decoded.accounts.push_back(std::move(account));
  }
  // A single stray byte is ignored; a larger partial record means damage.
  if (bytes.size() - offset >= 2) decoded.corrupt = true;
  decoded.unreadable = bytes.size() >= 2 && std::ranges::all_of(decoded.accounts, &AccountRecord::damaged);
  return decoded;
}

std::string EncodeAccountsFile(const std::vector<AccountRecord>& accounts, const AccountsCipher& cipher) {
  std::string bytes;
  bytes.reserve(accounts.size() * kRecordSize);
  for (const auto& account : accounts) {
    if (account.damaged()) {
      bytes += account.damagedBytes;  // kept as read, for a later machine or key to read
      continue;
    }
    RecordBytes record = PackRecord(account);
    cipher.encrypt(record);
    bytes.append(reinterpret_cast<const char*>(record.data()), record.size());
  }
  return bytes;
}

}  // namespace talvek::accounts
