#include <gtest/gtest.h>

#include <sstream>

#include "accounts/account_editing.h"
#include "accounts/accounts_command.h"
#include "accounts/accounts_file.h"
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
  full.uploadsDir = std::string(300, 'u');  // cut to what survives the encryption
  EXPECT_EQ(UnpackRecord(PackRecord(full)).uploadsDir, std::string(255, 'u'));
  EXPECT_EQ(Encoded({Account("a"), Account("b"), Account("c")}).size(), 2772u);
}

struct FileCase {
  std::string name;
  std::function<std::string(std::string)> content;  // from the file of bob and amy under key 12345
  std::string key;
  size_t accounts;
  bool corrupt, unreadable;
  std::vector<std::string> logins;  // of bob (password secret) and amy (pass), who still log in
};

void PrintTo(const FileCase& file, std::ostream* out) { *out << file.name; }

class FileContents : public ::testing::TestWithParam<FileCase> {};

TEST_P(FileContents, LoadAsFarAsTheyGoAndDamagedRecordsNeverLogIn) {
  std::string good = Encoded({Account("bob", "secret"), Account("amy", "pass")});
  DecodedFile decoded = DecodeAccountsFile(GetParam().content(good), AccountsCipher(GetParam().key));
  EXPECT_EQ(decoded.accounts.size(), GetParam().accounts);
  EXPECT_EQ(decoded.corrupt, GetParam().corrupt);
  EXPECT_EQ(decoded.unreadable, GetParam().unreadable);
  AccountStore store;
  store.replaceAll(decoded.accounts);
  std::vector<std::string> logins;
  if (store.checkPassword("bob", "secret")) logins.push_back("bob");
  if (store.checkPassword("amy", "pass")) logins.push_back("amy");
  EXPECT_EQ(logins, GetParam().logins);
  // A damaged record never logs in and is written back byte for byte.
  for (size_t i = 0; i < decoded.accounts.size(); ++i) {
    if (!decoded.accounts[i].damaged()) continue;
    EXPECT_FALSE(store.checkPassword(decoded.accounts[i].name, decoded.accounts[i].password));
    EXPECT_TRUE(Encoded({decoded.accounts[i]}) == GetParam().content(good).substr(i * kRecordSize, kRecordSize));
  }
}

std::string Flip(std::string bytes, size_t at) {
  bytes[at] = static_cast<char>(bytes[at] ^ 0x40);
  return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Files, FileContents,
    ::testing::Values(
        FileCase{"Empty", [](std::string) { return std::string(); }, "12345", 0, false, false, {}},
        FileCase{"OneStrayByte", [](std::string) { return std::string("x"); }, "12345", 0, false, false, {}},
        FileCase{"Whole", [](std::string g) { return g; }, "12345", 2, false, false, {"bob", "amy"}},
        FileCase{"StrayByteAfter", [](std::string g) { return g + "x"; }, "12345", 2, false, false, {"bob", "amy"}},
        FileCase{"PartialRecordAfter", [](std::string g) { return g + "xy"; }, "12345", 2, true, false, {"bob", "amy"}},
        FileCase{"PartialRecordOnly", [](std::string g) { return g.substr(0, 500); }, "12345", 0, true, true, {}},
        FileCase{"ChecksummedHalfChanged", [](std::string g) { return Flip(g, 20); }, "12345", 2, true, false, {"amy"}},
        FileCase{"UncheckedHalfChanged", [](std::string g) { return Flip(g, 700); }, "12345", 2, false, false,
                 {"bob", "amy"}},
        FileCase{"AnotherKey", [](std::string g) { return g; }, "-99", 2, true, true, {}}),
    [](const auto& info) { return info.param.name; });

TEST(AccountsFile, UnreadableFileKeepsTheAccountsInForceAndMissingFileEmptiesThem) {
  test::TempDir dir;
  AccountStore store;
  store.append(Account("bob"));
  std::filesystem::create_directory(dir.path() / "dir.lgn");
  EXPECT_EQ(store.load(dir.path() / "dir.lgn", "1").error, EISDIR);
  EXPECT_TRUE(store.exists("bob"));
  EXPECT_EQ(store.load(dir.path() / "missing.lgn", "1").error, 0);
  EXPECT_EQ(store.size(), 0u);
  EXPECT_NE(WriteAccountsFile(dir.path() / "dir.lgn", {Account("a")}, "1"), 0);  // a directory is never replaced
}

struct MergeCase {
  std::string name;
  std::vector<AccountRecord> base, mine, disk;
  std::optional<std::vector<AccountRecord>> merged;  // nothing: a conflict
};

void PrintTo(const MergeCase& merge, std::ostream* out) { *out << merge.name; }

class Merge : public ::testing::TestWithParam<MergeCase> {};

TEST_P(Merge, EditorChangesGoOntoTheFileAsItIsNow) {
  std::string conflict;
  auto merged = MergeAccounts(GetParam().base, GetParam().mine, GetParam().disk, conflict);
  EXPECT_EQ(merged, GetParam().merged);
  EXPECT_EQ(conflict.empty(), merged.has_value());
}

const AccountRecord kA = Account("a"), kB = Account("b"), kC = Account("c"), kD = Account("d");
const AccountRecord kA2 = Account("a", "changed"), kA3 = Account("a", "other");

INSTANTIATE_TEST_SUITE_P(
    Cases, Merge,
    ::testing::Values(MergeCase{"AddedOnBothSides", {kA}, {kA, kC}, {kA, kB}, {{kA, kB, kC}}},
                      MergeCase{"RemovedHereKeepsTheirAddition", {kA, kB}, {kB}, {kA, kB, kD}, {{kB, kD}}},
                      MergeCase{"ChangedHere", {kA, kB}, {kA2, kB}, {kA, kB}, {{kA2, kB}}},
                      MergeCase{"ChangedThere", {kA, kB}, {kA, kB}, {kA2}, {{kA2}}},
                      MergeCase{"SameChangeOnBoth", {kA}, {kA2}, {kA2}, {{kA2}}},
                      MergeCase{"ChangedOnBoth", {kA}, {kA2}, {kA3}, std::nullopt},
                      MergeCase{"ChangedHereRemovedThere", {kA, kB}, {kA2, kB}, {kB}, std::nullopt},
                      MergeCase{"RemovedHereChangedThere", {kA}, {}, {kA2}, std::nullopt},
                      MergeCase{"AddedOnBothDifferently", {}, {kA2}, {kA3}, std::nullopt}),
    [](const auto& info) { return info.param.name; });

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
  again.homeDir = "/elsewhere/";
  EXPECT_EQ(ValidateAccount(again, "/ftp/"), kHomeOutsideRootText);
  again.homeDir = "/ftpx/";  // a plain prefix test, as the rule says
  EXPECT_EQ(ValidateAccount(again, "/ftp"), "");
  EXPECT_EQ(ParsePermissions("dr"), kRead | kDelete);
  EXPECT_FALSE(ParsePermissions("rx"));
  EXPECT_EQ(PermissionLetters(kRead | kDelete), "r-d");
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

}  // namespace
}  // namespace talvek::accounts
