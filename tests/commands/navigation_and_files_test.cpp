// Navigation and file commands of a logged-in client, over a real socket,
// against a real tree (the ways out are the hostile-client suite's, the
// rights the permission table's).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/server_fixture.h"

namespace talvek::ftp {
namespace {

namespace fs = std::filesystem;

// The unique fact of a path: device and inode in hex.
std::string Unique(const std::string& path) {
  struct stat info {};
  ::stat(path.c_str(), &info);
  char text[40];
  std::snprintf(text, sizeof text, "%llxU%llx", static_cast<unsigned long long>(info.st_dev),
                static_cast<unsigned long long>(info.st_ino));
  return text;
}

class FileCommandsTest : public ::testing::Test {
 protected:
  FileCommandsTest() {
    for (const char* name : {"pub/sub/file.txt", "a.txt", "b.txt", "c.txt", "full/inside.txt", "pub/.hidden/.profile"})
      tree_.write(std::string("ftp/") + name, name);
    auto settings = test::LoopbackSettings(root());
    settings.anonymous.allow = 1;
    settings.anonymous.rights = 7;
    fixture_ = std::make_unique<test::ServerFixture>(settings);
    client_ = fixture_->connect();
    EXPECT_EQ(client_->ask("USER anonymous"), "331 User name okay, need password");
    EXPECT_EQ(client_->ask("PASS guest@"), "230 User logged in, proceed");
  }
  std::string root() const { return tree_.dir() + "ftp/"; }
  void converse(const std::initializer_list<std::pair<const char*, std::string>>& exchanges) {
    for (const auto& [command, reply] : exchanges) EXPECT_EQ(client_->ask(command), reply) << command;
  }

  test::TempDir tree_;
  std::unique_ptr<test::ServerFixture> fixture_;
  std::unique_ptr<test::LineClient> client_;
};

std::string Pwd(const std::string& path) { return "257 \"" + path + "\" is current working directory"; }
std::string Cwd(const std::string& path) { return "250 " + path + " is current working directory"; }
std::string NoDir(const std::string& path) { return "501 Directory " + path + " does not exist"; }
const char k250[] = "250 Requested file action okay, completed.", k350[] = "350 Requested file action pending further information";

TEST_F(FileCommandsTest, NavigationFollowsThePathRulesAndFileCommandsChangeTheTree) {
  converse({{"PWD", Pwd("/")}, {"CWD pub", Cwd("pub")}, {"PWD", Pwd("pub/")}, {"CWD /pub/sub", Cwd("sub")},
            {"XPWD", Pwd("pub/sub/")}, {"CWD /pub", Cwd("pub")}, {"PWD", Pwd("pub/")}, {"CDUP", k250},
            {"PWD", Pwd("/")}, {"CWD pub//sub/", Cwd("pub/sub")}, {"CWD .", Cwd("/")},
            {"XCWD pub/.hidden", Cwd("pub/.hidden")}, {"PWD", Pwd("pub/.hidden/")},
            {"CWD /./pub/./sub/.", Cwd("pub/sub")}, {"PWD", Pwd("pub/sub/")}, {"CWD /", Cwd("/")},
            {"CWD ..", NoDir("..")}, {"CDUP", NoDir("")}, {"XCUP", NoDir("")}, {"CWD ../x", NoDir("../x")},
            {"CWD a..b", NoDir("a..b")}, {"CWD nowhere", NoDir("nowhere")}, {"PWD", Pwd("/")}});
  converse({{"MKD new", "227 new created"}, {"XMKD new", "550 Directory new already exists"},
            {"MKD a.txt", "550 Directory a.txt already exists"}, {"MKD ../x", NoDir("../x")},
            {"RMD full", "450 Delete operation failed"}, {"XRMD new", "250 new deleted"},
            {"DELE missing.txt", "450 Delete operation failed"}, {"DELE pub", "450 Delete operation failed"},
            {"DELE a.txt", "250 a.txt deleted"}, {"RNTO x", "503 Bad sequence of commands"},
            {"RNFR missing", "450 Requested file action not executed"}, {"RNTO x", "503 Bad sequence of commands"},
            {"RNFR b.txt", k350}, {"RNTO c.txt", "501 Syntax error in parameters or arguments"},
            {"NOOP", "200 Command OK"}, {"RNTO d.txt", k250}, {"RNFR pub", k350}, {"RNTO moved", k250}});
  EXPECT_EQ(tree_.read("ftp/c.txt"), "c.txt");  // never overwritten
  EXPECT_EQ(tree_.read("ftp/d.txt"), "b.txt");
  EXPECT_TRUE(fs::exists(root() + "full/inside.txt") && fs::exists(root() + "moved/sub/file.txt"));
  EXPECT_FALSE(fs::exists(root() + "new") || fs::exists(root() + "a.txt") || fs::exists(root() + "b.txt"));
}

const char kNotFound[] = "550 Requested action not taken. File unavailable. File does not exist";
const char kInvalid[] = "550 Requested action not taken. File unavailable: Invalid file";
const char kBadArgument[] = "501 Syntax error in parameters or arguments";

TEST_F(FileCommandsTest, FactCommandsReadAndSetWhatTheFileSystemHolds) {
  fs::resize_file(root() + "pub/sub/file.txt", uint64_t{5} << 30);  // sparse
  std::string a_facts = "type=file;size=5;modify=20240229235958;perm=adfrw;unique=" + Unique(root() + "a.txt") + ";";
  std::string pub_facts = "type=dir;modify=20010117000000;perm=cdeflmp;unique=" + Unique(root() + "pub") + ";";
  converse({{"SIZE a.txt", "213 5"}, {"SIZE /pub/sub/file.txt", "213 5368709120"},
            {"SIZE pub/.hidden/.profile", "213 20"}, {"SIZE pub", kInvalid}, {"SIZE missing", kNotFound},
            {"SIZE ../a.txt", kNotFound}, {"MDTM pub", kInvalid}, {"MDTM nothing", kNotFound},
            {"MFMT 20240229235958 a.txt", "213 Modify=20240229235958; a.txt"}, {"MDTM a.txt", "213 20240229235958"},
            {"MFMT 20230229000000 a.txt", kBadArgument}, {"MFMT 2024 a.txt", kBadArgument},
            {"MFMT 2024010100000x a.txt", kBadArgument}, {"MFMT 20240101000000", kBadArgument},
            {"MFMT 20240101000000 missing", kNotFound}, {"MDTM a.txt", "213 20240229235958"},
            {"MFMT 20010117000000 /pub", "213 Modify=20010117000000; /pub"},
            {"MLST a.txt", "250-Listing a.txt\r\n " + a_facts + " a.txt\r\n250 End"},
            {"MLST pub", "250-Listing pub\r\n " + pub_facts + " pub\r\n250 End"}, {"MLST nothing", kNotFound},
            {"CWD pub", Cwd("pub")}, {"MLST", "250-Listing /pub\r\n " + pub_facts + " /pub\r\n250 End"},
            {"MLST /a.txt", "250-Listing /a.txt\r\n " + a_facts + " /a.txt\r\n250 End"},
            {"OPTS MLST size;perm;", "200 MLST OPTS size;perm;"},
            {"MLST ../a.txt", "250-Listing ../a.txt\r\n size=5;perm=adfrw; ../a.txt\r\n250 End"}});
}

}  // namespace
}  // namespace talvek::ftp
