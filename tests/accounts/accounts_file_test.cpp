// The accounts file and its cipher, the store, merges of edits and the
// accounts command.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "accounts/account_editing.h"
#include "accounts/accounts_command.h"
#include "accounts/accounts_file.h"
#include "accounts/blowfish.h"
#include "support/test_support.h"

namespace talvek::accounts {
namespace {

AccountRecord Account(const std::string& name, const std::string& password = "pw") {
  AccountRecord account;
  account.name = name;
  account.password = password;
  account.homeDir = "/ftp/" + name + "/";
  account.permissions = kRead | kWrite;
  return account;
}

std::string Encoded(const std::vector<AccountRecord>& records, const std::string& key = "12345") {
  return EncodeAccountsFile(records, AccountsCipher(key));
}

TEST(AccountsFile, RoundTripKeepsEveryFieldAtItsLimitsInAFileOfMode0600) {
  test::TempDir dir;
  AccountRecord full;
  full.name = std::string(63, 'n');
  full.password = std::string(63, 'p');
  full.homeDir = "/" + std::string(254, 'h');
  full.uploadsDir = "/" + std::string(254, 'u');
  full.logonMessageFile = "/" + std::string(258, 'm');
  full.permissions = 7;
  full.redirectUploads = full.customLogonMessage = true;
  std::vector<AccountRecord> records{full, Account("e", "")};
  ASSERT_EQ(WriteAccountsFile(dir.path() / "a.lgn", records, "12345"), 0);
  EXPECT_EQ(std::filesystem::status(dir.path() / "a.lgn").permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  AccountStore store;
  LoadResult loaded = store.load(dir.path() / "a.lgn", "12345");
  EXPECT_FALSE(loaded.corrupt);
  EXPECT_EQ(store.records(), records);
  EXPECT_EQ(store.load(dir.path() / "missing.lgn", "12345").error, 0);  // a missing file: no accounts
  EXPECT_EQ(store.size(), 0u);
  full.uploadsDir = std::string(300, 'u');  // cut to what survives the encryption
  EXPECT_EQ(UnpackRecord(PackRecord(full)).uploadsDir, std::string(255, 'u'));
  EXPECT_EQ(Encoded({Account("a"), Account("b"), Account("c")}).size(), 2772u);
}

std::string Flip(std::string bytes, size_t at) {
  bytes[at] = static_cast<char>(bytes[at] ^ 0x40);
  return bytes;
}

TEST(AccountsFile, ContentsLoadAsFarAsTheyGoAndDamagedRecordsNeverLogIn) {
  struct Case {
    std::string name;
    std::function<std::string(std::string)> content;  // from the file of bob and amy under key 12345
    std::string key;
    size_t accounts;
    bool corrupt, unreadable;
    std::vector<std::string> logins;  // of bob (password secret) and amy (pass), who still log in
  };
  const std::vector<Case> cases{
      {"empty", [](std::string) { return std::string(); }, "12345", 0, false, false, {}},
      {"one stray byte", [](std::string) { return std::string("x"); }, "12345", 0, false, false, {}},
      {"whole", [](std::string g) { return g; }, "12345", 2, false, false, {"bob", "amy"}},
      {"stray byte after", [](std::string g) { return g + "x"; }, "12345", 2, false, false, {"bob", "amy"}},
      {"partial record after", [](std::string g) { return g + "xy"; }, "12345", 2, true, false, {"bob", "amy"}},
      {"partial record only", [](std::string g) { return g.substr(0, 500); }, "12345", 0, true, true, {}},
      {"checksummed half changed", [](std::string g) { return Flip(g, 20); }, "12345", 2, true, false, {"amy"}},
      {"unchecked half changed", [](std::string g) { return Flip(g, 700); }, "12345", 2, false, false, {"bob", "amy"}},
      {"another key", [](std::string g) { return g; }, "-99", 2, true, true, {}},
  };
  const std::string good = Encoded({Account("bob", "secret"), Account("amy", "pass")});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DecodedFile decoded = DecodeAccountsFile(c.content(good), AccountsCipher(c.key));
    EXPECT_EQ(decoded.accounts.size(), c.accounts);
    EXPECT_EQ(decoded.corrupt, c.corrupt);
    EXPECT_EQ(decoded.unreadable, c.unreadable);
    AccountStore store;
    store.replaceAll(decoded.accounts);
    std::vector<std::string> logins;
    if (store.checkPassword("bob", "secret")) logins.push_back("bob");
    if (store.checkPassword("amy", "pass")) logins.push_back("amy");
    EXPECT_EQ(logins, c.logins);
    // A damaged record never logs in and is written back byte for byte.
    for (size_t i = 0; i < decoded.accounts.size(); ++i) {
      if (!decoded.accounts[i].damaged()) continue;
      EXPECT_FALSE(store.checkPassword(decoded.accounts[i].name, decoded.accounts[i].password));
      EXPECT_TRUE(Encoded({decoded.accounts[i]}) == c.content(good).substr(i * kRecordSize, kRecordSize));
    }
  }
}

TEST(AccountsMerge, EditorChangesGoOntoTheFileAsItIsNow) {
  const AccountRecord kA = Account("a"), kB = Account("b"), kC = Account("c"), kD = Account("d");
  const AccountRecord kA2 = Account("a", "changed"), kA3 = Account("a", "other");
  using Records = std::vector<AccountRecord>;
  struct Case {
    std::string name;
    Records base, mine, disk;
    std::optional<Records> merged;  // nothing: a conflict
  };
  const std::vector<Case> cases{
      {"added on both sides", {kA}, {kA, kC}, {kA, kB}, Records{kA, kB, kC}},
      {"removed here keeps their addition", {kA, kB}, {kB}, {kA, kB, kD}, Records{kB, kD}},
      {"changed here", {kA, kB}, {kA2, kB}, {kA, kB}, Records{kA2, kB}},
      {"changed there", {kA, kB}, {kA, kB}, {kA2}, Records{kA2}},
      {"same change on both", {kA}, {kA2}, {kA2}, Records{kA2}},
      {"changed on both", {kA}, {kA2}, {kA3}, std::nullopt},
      {"changed here, removed there", {kA, kB}, {kA2, kB}, {kB}, std::nullopt},
      {"removed here, changed there", {kA}, {}, {kA2}, std::nullopt},
      {"added on both differently", {}, {kA2}, {kA3}, std::nullopt},
  };
  for (const Case& c : cases) {
    std::string conflict;
    auto merged = MergeAccounts(c.base, c.mine, c.disk, conflict);
    EXPECT_EQ(merged, c.merged) << c.name;
    EXPECT_EQ(conflict.empty(), merged.has_value()) << c.name;
  }
}

TEST(AccountEditing, AddOverwritesOnlyNamePasswordAndPermissionsAndHomeIsAPrefixRule) {
  AccountStore store;
  store.append(Account("bob", "old"));
  AccountRecord again = Account("bob", "new");
  again.homeDir = "/ftp/elsewhere/";
  again.permissions = kDelete;
  EXPECT_EQ(AddAccount(store, again), AddOutcome::OverwroteExisting);
  AccountRecord expected = Account("bob", "new");
  expected.permissions = kDelete;
  EXPECT_EQ(store.find("bob"), expected);
  EXPECT_FALSE(store.exists("Bob"));  // names are case-sensitive
  again.homeDir = "/ftpx/";  // a plain prefix test, as the rule says
  EXPECT_EQ(ValidateAccount(again, "/ftp"), "");
  EXPECT_EQ(ParsePermissions("dr"), kRead | kDelete);
}

TEST(AccountsCommand, RefusalsExitTwoAndLeaveTheFileAsItWas) {
  test::TempDir dir;
  auto file = dir.path() / "a.lgn";
  std::ostringstream out, err;
  auto run = [&](std::vector<std::string> args) { return RunAccountsCommand(args, file, "/ftp/", "7", out, err); };
  ASSERT_EQ(run({"add", "bob", "--password", "s3cret", "--perms", "rwd", "--redirect-uploads", "--uploads", "/ftp/in/"}), 0);
  EXPECT_EQ(run({"list"}), 0);
  EXPECT_EQ(out.str(), "bob  rwd  home=/ftp/  uploads=/ftp/in/ (redirected)  logon-message=-\n");
  std::string saved = test::ReadFile(file);
  for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"add", "eve", "--home", "/tmp/"}, std::string(kHomeOutsideRootText) + "\n"},
           {{"add", "eve", "--perms", "x"}, "accounts: --perms takes the letters r, w and d, not 'x'\n"},
           {{"modify", "nobody"}, "accounts: no account named 'nobody'\n"},
           {{"remove", "bob", "extra"}, "usage: accounts list\n"}}) {
    err.str("");
    EXPECT_EQ(run(args), 2) << args[0];
    EXPECT_EQ(err.str().substr(0, message.size()), message);
    EXPECT_EQ(test::ReadFile(file), saved);
  }
}

std::vector<uint8_t> Bytes(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

uint64_t Block(const std::string& hex) { return std::stoull(hex, nullptr, 16); }

uint64_t Encrypt(const std::vector<uint8_t>& key, uint64_t plain) {
  Blowfish cipher(key);
  uint32_t left = static_cast<uint32_t>(plain >> 32), right = static_cast<uint32_t>(plain);
  cipher.encryptBlock(left, right);
  uint64_t encrypted = (static_cast<uint64_t>(left) << 32) | right;
  cipher.decryptBlock(left, right);
  EXPECT_EQ((static_cast<uint64_t>(left) << 32) | right, plain);
  return encrypted;
}

struct Vector {
  const char* key;
  const char* plain;
  const char* cipher;
};

// Some of the published ECB test vectors.
constexpr Vector kEcbVectors[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0"},
};

TEST(Blowfish, PublishedEcbVectors) {
  for (const auto& vector : kEcbVectors)
    EXPECT_EQ(Encrypt(Bytes(vector.key), Block(vector.plain)), Block(vector.cipher)) << vector.key;
}

// The published variable-key vectors: keys of 1 to 24 leading bytes of one key.
TEST(Blowfish, PublishedVariableKeyVectors) {
  const auto key = Bytes("F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677");
  const char* expected[] = {
      "F9AD597C49DB005E", "E91D21C1D961A6D6", "E9C2B70A1BC65CF3", "BE1E639408640F05", "B39E44481BDB1E6E",
      "9457AA83B1928C0D", "8BB77032F960629D", "E87A244E2CC85E82", "15750E7A4F4EC577", "122BA70B3AB64AE0",
      "3A833C9AFFC537F6", "9409DA87A90F6BF2", "884F80625060B8B4", "1F85031C19E11968", "79D9373A714CA34F",
      "93142887EE3BE15C", "03429E838CE2D14B", "A4299E27469FF67B", "AFD5AED1C1BC96A8", "10851C0E3858DA9F",
      "E6F51ED79B9DB21F", "64A6E14AFD36B46F", "80C7D7D45A5479AD", "05044B62FA52D080"};
  for (size_t length = 1; length <= 24; ++length) {
    std::vector<uint8_t> prefix(key.begin(), key.begin() + static_cast<long>(length));
    EXPECT_EQ(Encrypt(prefix, Block("FEDCBA9876543210")), Block(expected[length - 1])) << "key length " << length;
  }
}

}  // namespace
}  // namespace talvek::accounts
