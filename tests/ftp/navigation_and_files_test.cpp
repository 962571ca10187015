// Navigation and file commands of a logged-in client, over a real socket,
// against a real tree (the ways out are the hostile-client suite's).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "support/server_fixture.h"

namespace talvek::ftp {
namespace {

using test::ServerFixture;

settings::Settings Anonymous(const std::string& root, uint8_t rights) {
  auto settings = test::LoopbackSettings(root);
  settings.anonymous.allow = 1;
  settings.anonymous.rights = rights;
  return settings;
}

// The unique fact of a path: device and inode in hex.
std::string Unique(const std::string& path) {
  struct stat info {};
  ::stat(path.c_str(), &info);
  char text[40];
  std::snprintf(text, sizeof text, "%llxU%llx", static_cast<unsigned long long>(info.st_dev),
                static_cast<unsigned long long>(info.st_ino));
  return text;
}

bool Exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

class FileCommandsTest : public ::testing::Test {
 protected:
  explicit FileCommandsTest(uint8_t rights = 7) {
    tree_.write("ftp/pub/sub/file.txt", "data");
    tree_.write("ftp/a.txt", "a");
    tree_.write("ftp/b.txt", "b");
    tree_.write("ftp/full/inside.txt", "i");
    tree_.write("ftp/pub/.hidden/.profile", "dotted");
    fixture_ = std::make_unique<ServerFixture>(Anonymous(root(), rights));
    client_ = fixture_->connect();
    EXPECT_EQ(client_->ask("USER anonymous"), "331 User name okay, need password");
    EXPECT_EQ(client_->ask("PASS guest@"), "230 User logged in, proceed");
  }
  std::string root() const { return tree_.dir() + "ftp/"; }
  std::string ask(const std::string& line) { return client_->ask(line).value_or("<no reply>"); }

  test::TempDir tree_;
  std::unique_ptr<ServerFixture> fixture_;
  std::unique_ptr<test::LineClient> client_;
};

TEST_F(FileCommandsTest, NavigationFollowsTheDocumentedPathRules) {
  EXPECT_EQ(ask("PWD"), "257 \"/\" is current working directory");
  EXPECT_EQ(ask("CWD pub"), "250 pub is current working directory");
  EXPECT_EQ(ask("PWD"), "257 \"pub/\" is current working directory");
  EXPECT_EQ(ask("CWD /pub/sub"), "250 sub is current working directory");
  EXPECT_EQ(ask("XPWD"), "257 \"pub/sub/\" is current working directory");
  EXPECT_EQ(ask("CWD /pub"), "250 pub is current working directory");  // falls back to the root
  EXPECT_EQ(ask("PWD"), "257 \"pub/\" is current working directory");
  EXPECT_EQ(ask("CDUP"), "250 Requested file action okay, completed.");
  EXPECT_EQ(ask("PWD"), "257 \"/\" is current working directory");
  EXPECT_EQ(ask("CWD pub//sub/"), "250 pub/sub is current working directory");
  EXPECT_EQ(ask("CWD ."), "250 / is current working directory");
  EXPECT_EQ(ask("XCWD pub/.hidden"), "250 pub/.hidden is current working directory");
  EXPECT_EQ(ask("PWD"), "257 \"pub/.hidden/\" is current working directory");
  EXPECT_EQ(ask("CWD /./pub/./sub/."), "250 pub/sub is current working directory");
  EXPECT_EQ(ask("PWD"), "257 \"pub/sub/\" is current working directory");
  EXPECT_EQ(ask("CWD /"), "250 / is current working directory");
  EXPECT_EQ(ask("CWD .."), "501 Directory .. does not exist");
  EXPECT_EQ(ask("CDUP"), "501 Directory  does not exist");
  EXPECT_EQ(ask("XCUP"), "501 Directory  does not exist");
  EXPECT_EQ(ask("CWD ../x"), "501 Directory ../x does not exist");
  EXPECT_EQ(ask("CWD a..b"), "501 Directory a..b does not exist");
  EXPECT_EQ(ask("CWD nowhere"), "501 Directory nowhere does not exist");
  EXPECT_EQ(ask("PWD"), "257 \"/\" is current working directory");
}

const char kNotFound[] = "550 Requested action not taken. File unavailable. File does not exist";
const char kInvalid[] = "550 Requested action not taken. File unavailable: Invalid file";
const char kDenied[] = "550 Requested action not taken. File unavailable: Access denied";
const char kBadArgument[] = "501 Syntax error in parameters or arguments";

TEST_F(FileCommandsTest, FactCommandsReadAndSetWhatTheFileSystemHolds) {
  std::filesystem::resize_file(root() + "pub/sub/file.txt", uint64_t{5} << 30);  // sparse
  std::string a_facts = "type=file;size=1;modify=20240229235958;perm=adfrw;unique=" + Unique(root() + "a.txt") + ";";
  std::string pub_facts = "type=dir;modify=20010117000000;perm=cdeflmp;unique=" + Unique(root() + "pub") + ";";
  for (const auto& [command, reply] : std::initializer_list<std::pair<const char*, std::string>>{
           {"SIZE a.txt", "213 1"}, {"SIZE /pub/sub/file.txt", "213 5368709120"},
           {"SIZE pub/.hidden/.profile", "213 6"}, {"SIZE pub", kInvalid}, {"SIZE missing", kNotFound},
           {"SIZE ../a.txt", kNotFound}, {"MDTM pub", kInvalid}, {"MDTM nothing", kNotFound},
           {"MFMT 20240229235958 a.txt", "213 Modify=20240229235958; a.txt"}, {"MDTM a.txt", "213 20240229235958"},
           {"MFMT 20230229000000 a.txt", kBadArgument}, {"MFMT 2024 a.txt", kBadArgument},
           {"MFMT 2024010100000x a.txt", kBadArgument}, {"MFMT 20240101000000", kBadArgument},
           {"MFMT 20240101000000 missing", kNotFound}, {"MDTM a.txt", "213 20240229235958"},
           {"MFMT 20010117000000 /pub", "213 Modify=20010117000000; /pub"},
           {"MLST a.txt", "250-Listing a.txt\r\n " + a_facts + " a.txt\r\n250 End"},
           {"MLST pub", "250-Listing pub\r\n " + pub_facts + " pub\r\n250 End"},
           {"MLST nothing", kNotFound}, {"CWD pub", "250 pub is current working directory"},
           {"MLST", "250-Listing /pub\r\n " + pub_facts + " /pub\r\n250 End"},
           {"MLST /a.txt", "250-Listing /a.txt\r\n " + a_facts + " /a.txt\r\n250 End"},
           {"OPTS MLST size;perm;", "200 MLST OPTS size;perm;"},
           {"MLST ../a.txt", "250-Listing ../a.txt\r\n size=1;perm=adfrw; ../a.txt\r\n250 End"}})
    EXPECT_EQ(ask(command), reply) << command;
}

TEST_F(FileCommandsTest, DirectoryCommandsCreateAndRemove) {
  EXPECT_EQ(ask("MKD new"), "227 new created");
  EXPECT_TRUE(Exists(root() + "new"));
  EXPECT_EQ(ask("XMKD new"), "550 Directory new already exists");
  EXPECT_EQ(ask("MKD a.txt"), "550 Directory a.txt already exists");
  EXPECT_EQ(ask("MKD ../x"), "501 Directory ../x does not exist");
  EXPECT_EQ(ask("RMD full"), "450 Delete operation failed");
  EXPECT_TRUE(Exists(root() + "full/inside.txt"));
  EXPECT_EQ(ask("XRMD new"), "250 new deleted");
  EXPECT_FALSE(Exists(root() + "new"));
}

TEST_F(FileCommandsTest, DeleteAndRenameFollowTheirRules) {
  EXPECT_EQ(ask("DELE missing.txt"), "450 Delete operation failed");
  EXPECT_EQ(ask("DELE pub"), "450 Delete operation failed");
  EXPECT_EQ(ask("DELE a.txt"), "250 a.txt deleted");
  EXPECT_FALSE(Exists(root() + "a.txt"));
  EXPECT_EQ(ask("RNTO x"), "503 Bad sequence of commands");
  EXPECT_EQ(ask("RNFR missing"), "450 Requested file action not executed");
  EXPECT_EQ(ask("RNTO x"), "503 Bad sequence of commands");
  tree_.write("ftp/c.txt", "c");
  EXPECT_EQ(ask("RNFR b.txt"), "350 Requested file action pending further information");
  EXPECT_EQ(ask("RNTO c.txt"), "501 Syntax error in parameters or arguments");
  EXPECT_EQ(tree_.read("ftp/c.txt"), "c");  // never overwritten
  EXPECT_EQ(ask("NOOP"), "200 Command OK");
  EXPECT_EQ(ask("RNTO d.txt"), "250 Requested file action okay, completed.");
  EXPECT_EQ(tree_.read("ftp/d.txt"), "b");
  EXPECT_FALSE(Exists(root() + "b.txt"));
  EXPECT_EQ(ask("RNFR pub"), "350 Requested file action pending further information");
  EXPECT_EQ(ask("RNTO moved"), "250 Requested file action okay, completed.");
  EXPECT_TRUE(Exists(root() + "moved/sub/file.txt"));
}

class ReadOnlyTest : public FileCommandsTest {
 protected:
  ReadOnlyTest() : FileCommandsTest(1) {}
};

TEST_F(ReadOnlyTest, EachCommandAsksForItsPermission) {
  EXPECT_EQ(ask("MKD new"), "550 You do not have write access on this server");
  EXPECT_EQ(ask("DELE a.txt"), "550 You do not have delete permission on this server");
  EXPECT_EQ(ask("RMD pub"), "550 You do not have delete permission on this server");
  EXPECT_EQ(ask("RNFR a.txt"), "450 Requested file action not executed");
  EXPECT_EQ(ask("MFMT 20240101000000 a.txt"), kDenied);
  EXPECT_EQ(ask("OPTS MLST perm;"), "200 MLST OPTS perm;");
  EXPECT_EQ(ask("MLST a.txt"), "250-Listing a.txt\r\n perm=r; a.txt\r\n250 End");
  EXPECT_EQ(ask("MLST pub"), "250-Listing pub\r\n perm=el; pub\r\n250 End");
  EXPECT_TRUE(Exists(root() + "a.txt"));
  EXPECT_FALSE(Exists(root() + "new"));
}

}  // namespace
}  // namespace talvek::ftp
