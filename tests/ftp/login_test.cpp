// USER, PASS, REIN and the logon message, over a real socket.
#include <gtest/gtest.h>

#include "support/server_fixture.h"

namespace talvek::ftp {
namespace {

using test::ServerFixture;

settings::Settings WithAnonymous(const std::string& root, bool allow) {
  auto settings = test::LoopbackSettings(root);
  settings.anonymous.allow = allow ? 1 : 0;
  settings.anonymous.rights = 1;
  return settings;
}

TEST(Login, AnonymousAcceptsAnyPasswordInAnyLetterCase) {
  test::TempDir root;
  ServerFixture fixture(WithAnonymous(root.dir(), true));
  auto client = fixture.connect();
  EXPECT_EQ(client->ask("USER Anonymous"), "331 User name okay, need password");
  EXPECT_EQ(client->ask("PASS"), "230 User logged in, proceed");
  auto record = fixture.server().registrySnapshot().front();
  EXPECT_EQ(record->permissions, 1);
  EXPECT_TRUE(record->redirect_uploads);
  std::lock_guard lock(record->text_mutex);
  EXPECT_EQ(record->root_directory, root.dir());  // empty anonymous root: the FTP root
  EXPECT_EQ(record->password, "");
}

TEST(Login, AnonymousRefusedWhenNotAllowedAndUnknownNamesToo) {
  test::TempDir root;
  ServerFixture fixture(WithAnonymous(root.dir(), false));
  auto client = fixture.connect();
  EXPECT_EQ(client->ask("USER anonymous"), "530 Not logged on");
  EXPECT_EQ(client->ask("PASS x"), "530 Not logged on");
  EXPECT_EQ(client->ask("USER bob"), "530 Not logged on");
  EXPECT_EQ(client->ask("DELE x"), "550 You do not have delete permission on this server");
}

TEST(Login, WithoutAnyRootNobodyLogsInRatherThanGettingTheWholeDisk) {
  auto settings = WithAnonymous("", true);
  ServerFixture fixture(settings);
  auto client = fixture.connect();
  EXPECT_EQ(client->ask("USER anonymous"), "331 User name okay, need password");
  EXPECT_EQ(client->ask("PASS x"), "530 Not logged on");
  EXPECT_FALSE(fixture.server().registrySnapshot().front()->logged_in);
}

TEST(Login, LogonMessageLinesPrecedeThe230AndAMissingFileGivesNone) {
  test::TempDir root;
  root.write("welcome.txt", "a\nb\n");
  for (auto [file, reply] : {std::pair{"welcome.txt", "230- a\r\n230- b\r\n230 User logged in, proceed"},
                             {"missing.txt", "230 User logged in, proceed"}}) {
    auto settings = WithAnonymous(root.dir(), true);
    settings.sendLogonMsg = 1;
    settings.msgFilePath = root.dir() + file;
    ServerFixture fixture(settings);
    auto client = fixture.connect();
    EXPECT_EQ(client->ask("PASS secret"), "530 Not logged on");  // no USER yet
    EXPECT_EQ(client->ask("USER anonymous"), "331 User name okay, need password");
    EXPECT_EQ(client->ask("PASS me@"), reply);
    auto record = fixture.server().registrySnapshot().front();
    std::lock_guard lock(record->text_mutex);
    EXPECT_EQ(record->password, "me@");
  }
}

TEST(Login, ReinLogsOutAndReturnsToTheFtpRoot) {
  test::TempDir root;
  root.write("pub/file", "x");
  auto settings = WithAnonymous(root.dir(), true);
  settings.anonymous.rights = 7;
  ServerFixture fixture(settings);
  auto client = fixture.connect();
  client->ask("USER anonymous");
  client->ask("PASS x");
  EXPECT_EQ(client->ask("CWD pub"), "250 pub is current working directory");
  EXPECT_EQ(client->ask("REIN"), "220 Service ready for new user");
  EXPECT_EQ(client->ask("PWD"), "257 \"/\" is current working directory");
  EXPECT_EQ(client->ask("PASS x"), "530 Not logged on");
  EXPECT_EQ(client->ask("ACCT x"), "202 Command not implemented, superfluous on this server");
}

}  // namespace
}  // namespace talvek::ftp

namespace talvek::ftp {
namespace {

class NamedLoginTest : public ::testing::Test {
 protected:
  NamedLoginTest() {
    root_.write("bob/docs/readme", "r");
    root_.write("bob-message.txt", "hello bob\n");
    accounts::AccountRecord bob;
    bob.name = "Bob";
    bob.password = "secret";
    bob.homeDir = root_.dir() + "bob/";
    bob.permissions = accounts::kRead | accounts::kWrite;
    bob.customLogonMessage = true;
    bob.logonMessageFile = root_.dir() + "bob-message.txt";
    accounts::AccountRecord plain;
    plain.name = "amy";
    plain.password = "";
    fixture_.server().accounts().append(bob);
    fixture_.server().accounts().append(plain);
  }
  test::TempDir root_;
  test::ServerFixture fixture_{WithAnonymous(root_.dir(), false)};
};

TEST_F(NamedLoginTest, NamesAndPasswordsAreCaseSensitiveAndHomeIsTheRoot) {
  auto client = fixture_.connect();
  EXPECT_EQ(client->ask("USER bob"), "530 Not logged on");
  EXPECT_EQ(client->ask("USER Bob"), "331 User name okay, need password");
  EXPECT_EQ(client->ask("PASS Secret"), "530 Not logged on");
  EXPECT_EQ(client->ask("PASS secret"), "230- hello bob\r\n230 User logged in, proceed");
  EXPECT_EQ(client->ask("PWD"), "257 \"bob/\" is current working directory");
  EXPECT_EQ(client->ask("CWD /bob/docs"), "250 docs is current working directory");
  EXPECT_EQ(client->ask("MKD made"), "227 made created");
  EXPECT_EQ(client->ask("DELE docs/readme"), "550 You do not have delete permission on this server");
}

TEST_F(NamedLoginTest, EmptyHomeMeansTheFtpRootAndEmptyPasswordOnlyMatchesEmpty) {
  auto client = fixture_.connect();
  EXPECT_EQ(client->ask("USER amy"), "331 User name okay, need password");
  EXPECT_EQ(client->ask("PASS x"), "530 Not logged on");
  EXPECT_EQ(client->ask("PASS"), "230 User logged in, proceed");
  EXPECT_EQ(client->ask("PWD"), "257 \"/\" is current working directory");
  auto record = fixture_.server().registrySnapshot().front();
  std::lock_guard lock(record->text_mutex);
  EXPECT_EQ(record->root_directory, root_.dir());
}

}  // namespace
}  // namespace talvek::ftp
