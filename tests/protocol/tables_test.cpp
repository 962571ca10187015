// The reply and HELP tables: the texts clients see, and how a help file
// replaces the built-in ones.
#include <gtest/gtest.h>

#include "protocol/help_table.h"
#include "protocol/reply_table.h"
#include "support/test_support.h"

namespace talvek::ftp {
namespace {

TEST(ReplyTable, FileErrorCausesMapToTheirReplies) {
  const char* local = "451 Requested action aborted: local error in processing";
  for (auto [cause, reply] : std::initializer_list<std::pair<int, const char*>>{
           {0, local}, {15, local},
           {FileErrorCauseFromErrno(ENOENT), "550 Requested action not taken. File unavailable. File does not exist"},
           {FileErrorCauseFromErrno(EACCES), "550 Requested action not taken. File unavailable: Access denied"},
           {FileErrorCauseFromErrno(ENOSPC), "452 Requested action not taken. Insufficient reserved storage space on system"}})
    EXPECT_EQ(FileErrorReply(cause), reply) << cause;
}

TEST(HelpTable, BuiltInTextsUnlessAHelpFileReplacesThemUpToItsFirstGap) {
  test::TempDir dir;
  dir.write("talvek-ftpd.ini", "[OTHER]\nHelpKey2=ZZZ no\n[HELP_REPLY]\nHelpKey1=FOO does foo\nHelpKey2=LONG " +
                                   std::string(400, 'x') + "\nHelpKey4=BAR bar\n");
  HelpTable built_in, loaded;
  built_in.load(dir.path() / "missing.ini");
  loaded.load(dir.path() / "talvek-ftpd.ini");
  const std::string general(HelpTable::generalHelp());
  EXPECT_EQ(general,
            "Type \"Help <command>\"  to get help about specific commands. Supported commands:  RETR, STOR, USER, "
            "PASS, ACCT, CWD, CDUP, PORT, PASV, TYPE, MODE, STOU, APPE, REST, RNFR, RNTO,  ABOR, DELE, RMD, MKD, "
            "LIST, NLST, SITE, SYST, STAT, HELP, NOOP, FEAT, OPTS, SIZE, MDTM, MFMT, MLST, MLSD, EPSV, EPRT, AUTH, PBSZ, PROT");
  for (auto [table, argument, text] : std::initializer_list<std::tuple<const HelpTable*, const char*, std::string>>{
           {&built_in, "stat", "STAT Transmit current server status information"},
           {&built_in, "RETR", "RETR Download a file from the server. Syntax: RETR <filename>"},
           {&built_in, "NOOP", general},
           {&built_in, "", general},
           {&loaded, "foo", "FOO does foo"},
           {&loaded, "long", "LONG " + std::string(HelpTable::kMaxText - 5, 'x')},
           {&loaded, "zzz", general},
           {&loaded, "BAR", general},
           {&loaded, "RETR", general}})
    EXPECT_EQ(table->helpText(argument), text) << argument;
}

}  // namespace
}  // namespace talvek::ftp
