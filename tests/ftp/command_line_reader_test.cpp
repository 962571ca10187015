#include <gtest/gtest.h>

#include "ftp/command_line_reader.h"

namespace talvek::ftp {
namespace {

std::vector<std::string> Lines(CommandLineReader& reader) {
  std::vector<std::string> lines;
  for (int i = 0; i < 1000; ++i) {
    auto line = reader.next();
    if (!line) break;
    lines.push_back(line->too_long ? "<too long>" : line->text);
  }
  return lines;
}

TEST(CommandLineReader, SeveralLinesInOnePieceComeOutInOrder) {
  CommandLineReader reader;
  reader.append("NOOP\r\nSYST\r\n");
  EXPECT_EQ(Lines(reader), (std::vector<std::string>{"NOOP", "SYST"}));
}

TEST(CommandLineReader, LineSplitAcrossPiecesIsCompleted) {
  CommandLineReader reader;
  reader.append("NOOP\r\nSY");
  EXPECT_EQ(Lines(reader), (std::vector<std::string>{"NOOP"}));
  reader.append("ST\r");
  EXPECT_TRUE(Lines(reader).empty());
  reader.append("\n");
  EXPECT_EQ(Lines(reader), (std::vector<std::string>{"SYST"}));
}

TEST(CommandLineReader, LoneLineFeedDoesNotEndALine) {
  CommandLineReader reader;
  reader.append("NOOP\n");
  EXPECT_TRUE(Lines(reader).empty());
  reader.append("\r\n");
  EXPECT_EQ(Lines(reader), (std::vector<std::string>{"NOOP\n"}));
}

TEST(CommandLineReader, NulCutsTheLine) {
  CommandLineReader reader;
  reader.append(std::string("NOOP\0junk\r\nSYST\r\n", 17));
  EXPECT_EQ(Lines(reader), (std::vector<std::string>{"NOOP", "SYST"}));
}

TEST(CommandLineReader, OverlongLineIsReportedOnceAndItsTailDropped) {
  CommandLineReader reader;
  reader.append(std::string(3000, 'A'));
  EXPECT_TRUE(Lines(reader).empty());
  reader.append(std::string(3000, 'B'));
  EXPECT_EQ(Lines(reader), (std::vector<std::string>{"<too long>"}));
  reader.append("DELE secret\r\nNOOP\r\n");  // the rest of the long line, then a real command
  EXPECT_EQ(Lines(reader), (std::vector<std::string>{"NOOP"}));
  EXPECT_EQ(reader.pending(), 0u);
}

TEST(CommandLineReader, OverlongLineInOnePieceIsRefused) {
  CommandLineReader reader;
  reader.append(std::string(5000, 'x') + "\r\nNOOP\r\n");
  EXPECT_EQ(Lines(reader), (std::vector<std::string>{"<too long>", "NOOP"}));
}

TEST(CommandLineReader, LineOfExactlyTheLimitIsKept) {
  CommandLineReader reader;
  reader.append(std::string(CommandLineReader::kMaxLine, 'x') + "\r\n");
  auto line = reader.next();
  ASSERT_TRUE(line);
  EXPECT_FALSE(line->too_long);
  EXPECT_EQ(line->text.size(), CommandLineReader::kMaxLine);
}

TEST(ParseCommandLine, StripsTelnetBytesThenLeadingControlAndSplitsAtFirstSpace) {
  auto abor = ParseCommandLine("\xff\xf4" "ABOR");
  ASSERT_TRUE(abor);
  EXPECT_EQ(abor->keyword, "ABOR");
  auto noop = ParseCommandLine("  noop");
  ASSERT_TRUE(noop);
  EXPECT_EQ(noop->keyword, "NOOP");
  EXPECT_EQ(noop->line, "noop");
  auto cwd = ParseCommandLine("CWD my dir ");
  ASSERT_TRUE(cwd);
  EXPECT_EQ(cwd->keyword, "CWD");
  EXPECT_EQ(cwd->argument, "my dir ");
  EXPECT_FALSE(ParseCommandLine("    "));
  EXPECT_FALSE(ParseCommandLine(""));
  EXPECT_FALSE(ParseCommandLine("\xff\xff"));
}

}  // namespace
}  // namespace talvek::ftp
