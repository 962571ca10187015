#include <gtest/gtest.h>

#include "ftp/help_table.h"
#include "ftp/reply_table.h"
#include "support/test_support.h"

namespace talvek::ftp {
namespace {

TEST(ReplyTable, FileErrorCausesMapToTheirReplies) {
  EXPECT_EQ(FileErrorReply(0), "451 Requested action aborted: local error in processing");
  EXPECT_EQ(FileErrorReply(2), "550 Requested action not taken. File unavailable. File does not exist");
  EXPECT_EQ(FileErrorReply(5), "550 Requested action not taken. File unavailable: Access denied");
  EXPECT_EQ(FileErrorReply(13), "452 Requested action not taken. Insufficient reserved storage space on system");
  EXPECT_EQ(FileErrorReply(15), "451 Requested action aborted: local error in processing");
  EXPECT_EQ(FileErrorCauseFromErrno(ENOENT), kFileNotFound);
  EXPECT_EQ(FileErrorCauseFromErrno(ENOSPC), kDiskFull);
}

TEST(HelpTable, BuiltInTextsWithoutIniFile) {
  test::TempDir dir;
  HelpTable help;
  help.load(dir.path() / "missing.ini");
  EXPECT_EQ(help.helpText("stat"), "STAT Transmit current server status information");
  EXPECT_EQ(help.helpText("RETR"), "RETR Download a file from the server. Syntax: RETR <filename>");
  EXPECT_EQ(help.helpText("NOOP"), HelpTable::generalHelp());  // never loaded
  EXPECT_EQ(help.helpText(""), HelpTable::generalHelp());
  EXPECT_TRUE(help.slot(15).empty());
  EXPECT_TRUE(help.slot(27).empty());
  EXPECT_EQ(HelpTable::generalHelp(),
            "Type \"Help <command>\"  to get help about specific commands. Supported commands:  RETR, STOR, USER, "
            "PASS, ACCT, CWD, CDUP, PORT, PASV, TYPE, MODE, STOU, APPE, REST, RNFR, RNTO,  ABOR, DELE, RMD, MKD, "
            "LIST, NLST, SITE, SYST, STAT, HELP, NOOP, FEAT, OPTS, SIZE, MDTM, MFMT, MLST, MLSD, EPSV, EPRT");
}

TEST(HelpTable, IniFileStopsAtFirstMissingKeyAndReplacesBuiltIns) {
  test::TempDir dir;
  dir.write("talvek-ftpd.ini", "[OTHER]\nHelpKey2=ZZZ no\n[HELP_REPLY]\nHelpKey1=FOO does foo\nHelpKey3=BAR bar\n");
  HelpTable help;
  help.load(dir.path() / "talvek-ftpd.ini");
  EXPECT_EQ(help.helpText("foo"), "FOO does foo");
  EXPECT_EQ(help.helpText("BAR"), HelpTable::generalHelp());
  EXPECT_EQ(help.helpText("RETR"), HelpTable::generalHelp());
}

TEST(HelpTable, OverlongIniValueIsCut) {
  test::TempDir dir;
  dir.write("h.ini", "[HELP_REPLY]\nHelpKey1=LONG " + std::string(400, 'x') + "\n");
  HelpTable help;
  help.load(dir.path() / "h.ini");
  EXPECT_EQ(help.slot(0).size(), HelpTable::kMaxText);
}

}  // namespace
}  // namespace talvek::ftp
