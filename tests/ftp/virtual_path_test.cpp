#include <gtest/gtest.h>

#include <unistd.h>

#include "ftp/virtual_path.h"
#include "support/test_support.h"

namespace talvek::ftp {
namespace {

std::string Checked(std::string argument, const std::string& current = "/ftp/", const std::string& root = "/ftp/") {
  if (!CheckPath(argument, current, root)) return "<refused>";
  return argument;
}

TEST(CheckPath, ReducesClientPathsToPathsBelowTheCurrentDirectory) {
  EXPECT_EQ(Checked(""), "");
  EXPECT_EQ(Checked("/"), "");
  EXPECT_EQ(Checked("pub"), "pub");
  EXPECT_EQ(Checked("/pub/"), "pub");
  EXPECT_EQ(Checked("pub//sub/"), "pub/sub");
  EXPECT_EQ(Checked("pub\\sub"), "pub/sub");
  EXPECT_EQ(Checked("//pub"), "pub");
  EXPECT_EQ(Checked("/pub/sub", "/ftp/pub/"), "sub");  // repeats the displayed position
  EXPECT_EQ(Checked("pub/.hidden"), "");
  EXPECT_EQ(Checked("my dir"), "my dir");
}

TEST(CheckPath, RefusesTwoDotsAnywhere) {
  EXPECT_EQ(Checked(".."), "<refused>");
  EXPECT_EQ(Checked("../x"), "<refused>");
  EXPECT_EQ(Checked("a..b"), "<refused>");
  EXPECT_EQ(Checked("pub\\..\\.."), "<refused>");
}

TEST(DisplayedPath, ShowsThePathBelowTheFtpRoot) {
  EXPECT_EQ(DisplayedPath("/ftp/", "/ftp/"), "/");
  EXPECT_EQ(DisplayedPath("/ftp/pub/", "/ftp/"), "pub/");
  EXPECT_EQ(DisplayedPath("/elsewhere/", "/ftp/a/b/c/d/"), "/");
}

class ConfineToRootTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_.write("ftp/pub/file", "x");
    root_.write("secret/key", "k");
    ftp_ = root_.dir() + "ftp/";
  }
  test::TempDir root_;
  std::string ftp_;
};

TEST_F(ConfineToRootTest, KeepsPathsInsideAndResolvesDots) {
  EXPECT_EQ(ConfineToRoot(ftp_, ftp_ + "pub/file"), root_.dir() + "ftp/pub/file");
  EXPECT_EQ(ConfineToRoot(ftp_, ftp_ + "pub/../pub/./file"), root_.dir() + "ftp/pub/file");
  EXPECT_EQ(ConfineToRoot(ftp_, ftp_ + "pub/new/deeper"), root_.dir() + "ftp/pub/new/deeper");
  EXPECT_EQ(ConfineToRoot(ftp_, ftp_), root_.dir() + "ftp");
}

TEST_F(ConfineToRootTest, RefusesEveryWayOut) {
  EXPECT_FALSE(ConfineToRoot(ftp_, ftp_ + "../secret/key"));
  EXPECT_FALSE(ConfineToRoot(ftp_, ftp_ + "pub/../../secret"));
  EXPECT_FALSE(ConfineToRoot(ftp_, "/etc/passwd"));
  EXPECT_FALSE(ConfineToRoot(ftp_, "relative/path"));
  EXPECT_FALSE(ConfineToRoot(ftp_, root_.dir() + "ftpx/file"));  // a sibling sharing the prefix
  EXPECT_FALSE(ConfineToRoot(ftp_, ftp_ + std::string("pub\0/../..", 10)));
  EXPECT_FALSE(ConfineToRoot("", ftp_ + "pub"));
}

TEST_F(ConfineToRootTest, RefusesSymbolicLinksLeadingOut) {
  ASSERT_EQ(::symlink((root_.dir() + "secret").c_str(), (ftp_ + "escape").c_str()), 0);
  ASSERT_EQ(::symlink((root_.dir() + "secret/key").c_str(), (ftp_ + "keylink").c_str()), 0);
  ASSERT_EQ(::symlink((ftp_ + "pub").c_str(), (ftp_ + "inner").c_str()), 0);
  EXPECT_FALSE(ConfineToRoot(ftp_, ftp_ + "escape/key"));
  EXPECT_FALSE(ConfineToRoot(ftp_, ftp_ + "escape/new-file"));
  EXPECT_FALSE(ConfineToRoot(ftp_, ftp_ + "keylink"));
  EXPECT_TRUE(ConfineToRoot(ftp_, ftp_ + "inner/file"));
}

TEST(WithLocalSeparators, TurnsBackslashesIntoSlashes) {
  EXPECT_EQ(WithLocalSeparators("a\\b\\c"), "a/b/c");
}

}  // namespace
}  // namespace talvek::ftp
