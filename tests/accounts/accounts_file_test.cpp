#include <gtest/gtest.h>

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

class AccountsFileTest : public ::testing::Test {
 protected:
  std::filesystem::path file() const { return dir_.path() / "accounts.lgn"; }
  std::string bytes() const { return test::ReadFile(file()); }
  void writeBytes(const std::string& content) const { test::WriteFile(file(), content); }
  LoadResult loadInto(AccountStore& store, const std::string& key = "12345") const { return store.load(file(), key); }

  test::TempDir dir_;
};

TEST_F(AccountsFileTest, RoundTripKeepsEveryFieldAtItsLimits) {
  AccountStore store;
  store.setFilePath(file());
  AccountRecord full;
  full.name = std::string(63, 'n');
  full.password = std::string(63, 'p');
  full.homeDir = "/" + std::string(254, 'h');
  full.uploadsDir = "/" + std::string(254, 'u');
  full.logonMessageFile = "/" + std::string(258, 'm');
  full.permissions = 7;
  full.redirectUploads = true;
  full.customLogonMessage = true;
  AccountRecord empty;
  empty.name = "e";
  store.append(full);
  store.append(empty);
  for (int i = 0; i < 50; ++i) store.append(Account("user" + std::to_string(i)));
  ASSERT_EQ(store.save("12345"), 0);
  EXPECT_EQ(bytes().size(), 52 * kRecordSize);
  EXPECT_EQ(std::filesystem::status(file()).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  AccountStore again;
  auto result = loadInto(again);
  EXPECT_FALSE(result.corrupt);
  EXPECT_EQ(again.records(), store.records());
}

TEST_F(AccountsFileTest, OverlongTextsAreCutToTheirFields) {
  AccountRecord account = Account("x");
  account.uploadsDir = std::string(300, 'u');
  auto unpacked = UnpackRecord(PackRecord(account));
  EXPECT_EQ(unpacked.uploadsDir, std::string(255, 'u'));
}

TEST_F(AccountsFileTest, ThreeAccountsMakeAFileOf2772Bytes) {
  AccountStore store;
  store.setFilePath(file());
  for (auto name : {"a", "b", "c"}) store.append(Account(name));
  ASSERT_EQ(store.save("1"), 0);
  EXPECT_EQ(bytes().size(), 2772u);
}

TEST_F(AccountsFileTest, PartialRecordsAndStrayBytes) {
  AccountStore store;
  store.setFilePath(file());
  store.append(Account("bob"));
  ASSERT_EQ(store.save("12345"), 0);
  std::string one = bytes();
  for (auto [content, accounts, corrupt] : {std::tuple{std::string(), 0u, false}, std::tuple{std::string(1, 'x'), 0u, false},
                                            std::tuple{one + "x", 1u, false}, std::tuple{one + "xy", 1u, true},
                                            std::tuple{one.substr(0, 500), 0u, true}}) {
    writeBytes(content);
    AccountStore loaded;
    auto result = loadInto(loaded);
    EXPECT_EQ(loaded.size(), accounts) << content.size();
    EXPECT_EQ(result.corrupt, corrupt) << content.size();
  }
}

TEST_F(AccountsFileTest, FlippedByteInTheChecksummedHalfMarksTheRecordDamaged) {
  AccountStore store;
  store.setFilePath(file());
  store.append(Account("bob", "secret"));
  store.append(Account("amy", "pass"));
  ASSERT_EQ(store.save("12345"), 0);
  std::string content = bytes();
  content[20] = static_cast<char>(content[20] ^ 0x40);
  writeBytes(content);
  AccountStore loaded;
  auto result = loadInto(loaded);
  EXPECT_TRUE(result.corrupt);
  ASSERT_EQ(loaded.size(), 2u);
  EXPECT_TRUE(loaded.records()[0].damaged);
  EXPECT_TRUE(loaded.checkPassword("amy", "pass"));  // loaded as far as it goes
}

TEST_F(AccountsFileTest, BytesBeyondTheChecksummedHalfChangeSilently) {
  AccountStore store;
  store.setFilePath(file());
  store.append(Account("bob"));
  ASSERT_EQ(store.save("12345"), 0);
  std::string content = bytes();
  content[700] = static_cast<char>(content[700] ^ 1);
  writeBytes(content);
  AccountStore loaded;
  EXPECT_FALSE(loadInto(loaded).corrupt);
}

TEST_F(AccountsFileTest, FileUnderAnotherKeyNeverLogsAnyoneIn) {
  AccountStore store;
  store.setFilePath(file());
  AccountRecord nameless;
  nameless.name = "";
  store.append(Account("bob", "secret"));
  ASSERT_EQ(store.save("12345"), 0);
  AccountStore loaded;
  auto result = loadInto(loaded, "-99");
  EXPECT_TRUE(result.corrupt);
  for (const auto& account : loaded.records()) {
    EXPECT_TRUE(account.damaged);
    EXPECT_FALSE(loaded.checkPassword(account.name, account.password));
  }
  EXPECT_FALSE(loaded.checkPassword("", ""));
}

TEST_F(AccountsFileTest, FailedSaveKeepsTheOldFile) {
  AccountStore store;
  store.setFilePath(file());
  store.append(Account("bob"));
  ASSERT_EQ(store.save("1"), 0);
  std::string before = bytes();
  std::filesystem::create_directory(dir_.path() / "blocked");
  store.setFilePath(dir_.path() / "blocked");  // a directory cannot be replaced by a file
  EXPECT_NE(store.save("1"), 0);
  EXPECT_EQ(bytes(), before);
}

TEST(AccountStore, LookupsAreExactAndFallBackToSettings) {
  AccountStore store;
  AccountRecord bob = Account("Bob", "");
  bob.homeDir = "";
  bob.uploadsDir = "/up/";
  store.append(bob);
  EXPECT_TRUE(store.exists("Bob"));
  EXPECT_FALSE(store.exists("bob"));
  EXPECT_TRUE(store.checkPassword("Bob", ""));
  EXPECT_FALSE(store.checkPassword("Bob", " "));
  EXPECT_EQ(store.homeDirOf("Bob", "/ftp/"), "/ftp/");
  EXPECT_EQ(store.uploadDirOf("Bob", "/default/"), "/default/");  // not redirecting
  EXPECT_TRUE(store.redirectUploadsOf("nobody"));
  EXPECT_EQ(store.permissionsOf("nobody"), 0);
}

TEST(AccountEditing, AddingATakenNameOverwritesOnlyNamePasswordAndPermissions) {
  AccountStore store;
  store.append(Account("bob", "old"));
  AccountRecord again = Account("bob", "new");
  again.homeDir = "/ftp/elsewhere/";
  again.permissions = kDelete;
  EXPECT_EQ(AddAccount(store, again), AddOutcome::OverwroteExisting);
  auto bob = store.find("bob");
  ASSERT_TRUE(bob);
  EXPECT_EQ(bob->password, "new");
  EXPECT_EQ(bob->permissions, kDelete);
  EXPECT_EQ(bob->homeDir, "/ftp/bob/");
  EXPECT_EQ(store.size(), 1u);
}

TEST(AccountEditing, HomeDirectoryRuleIsAPlainPrefixTest) {
  AccountRecord account = Account("bob");
  account.homeDir = "/elsewhere/";
  EXPECT_EQ(ValidateAccount(account, "/ftp/"), "Specified home directory is not located in the FTP directory tree.");
  account.homeDir = "/ftpx/";  // prefix only, as the rule says
  EXPECT_EQ(ValidateAccount(account, "/ftp"), "");
  account.name = std::string(64, 'n');
  EXPECT_NE(ValidateAccount(account, "/ftp"), "");
  EXPECT_EQ(ParsePermissions("dr"), kRead | kDelete);
  EXPECT_EQ(ParsePermissions(""), 0);
  EXPECT_FALSE(ParsePermissions("rx"));
  EXPECT_EQ(PermissionLetters(kRead | kDelete), "r-d");
}

TEST(AccountsCommand, AddModifyListRemoveAndRefusals) {
  test::TempDir dir;
  AccountStore store;
  store.setFilePath(dir.path() / "a.lgn");
  std::ostringstream out, err;
  auto run = [&](std::vector<std::string> args) { return RunAccountsCommand(args, store, "/ftp/", "7", out, err); };
  EXPECT_EQ(run({"add", "bob", "--password", "s3cret", "--perms", "rw", "--home", "/ftp/bob/"}), 0);
  EXPECT_EQ(run({"modify", "bob", "--perms", "rwd", "--redirect-uploads", "--uploads", "/ftp/in/"}), 0);
  EXPECT_EQ(run({"list"}), 0);
  EXPECT_EQ(out.str(), "bob  rwd  home=/ftp/bob/  uploads=/ftp/in/ (redirected)  logon-message=-\n");
  EXPECT_EQ(out.str().find("s3cret"), std::string::npos);
  std::string saved = test::ReadFile(dir.path() / "a.lgn");
  EXPECT_EQ(run({"add", "eve", "--home", "/tmp/"}), 2);
  EXPECT_EQ(err.str(), "Specified home directory is not located in the FTP directory tree.\n");
  EXPECT_EQ(run({"add", "eve", "--perms", "x"}), 2);
  EXPECT_EQ(run({"modify", "nobody"}), 2);
  EXPECT_EQ(run({"remove", "nobody"}), 2);
  EXPECT_EQ(run({"frobnicate"}), 2);
  EXPECT_EQ(test::ReadFile(dir.path() / "a.lgn"), saved);
  EXPECT_EQ(run({"remove", "bob"}), 0);
  EXPECT_EQ(test::ReadFile(dir.path() / "a.lgn"), "");
}

}  // namespace
}  // namespace talvek::accounts
