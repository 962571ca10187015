#include "filter/filter_command.h"

#include <gtest/gtest.h>

#include <sstream>

#include "filter/filter_file.h"
#include "support/test_support.h"

namespace talvek::filter {
namespace {

constexpr const char* kUsage =
    "usage: filter list | add PATTERN | remove PATTERN | enable | disable | mode block|allow\n";

struct Outcome {
  int status;
  std::string out, err;
};

class FilterCommandTest : public ::testing::Test {
 protected:
  Outcome Run(std::vector<std::string> args) { return RunAt(file, std::move(args)); }
  Outcome RunAt(const std::filesystem::path& at, std::vector<std::string> args) {
    std::ostringstream out, err;
    int status = RunFilterCommand(args, at, enabled, blockListed, out, err);
    return {status, out.str(), err.str()};
  }
  std::string saved() const { return dir.read(kFilterFileName); }

  test::TempDir dir;
  std::filesystem::path file = dir.path() / kFilterFileName;
  uint32_t enabled = 0;
  uint32_t blockListed = 0;
};

TEST_F(FilterCommandTest, ListOfMissingFileShowsOnlyTheModeLine) {
  Outcome o = Run({"list"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "IP filtering disabled, mode: allow only listed addresses\n");
  EXPECT_EQ(o.err, "");
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(FilterCommandTest, AddStoresWildcardAsDigitRunAndListShowsItBack) {
  Outcome o = Run({"add", "192.168.*"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "Added 192.168.*\n");
  EXPECT_EQ(Run({"add", "^127\\.0\\.0\\.1$"}).status, 0);
  EXPECT_EQ(saved(), "192.168.[0-9]+\r\n^127\\.0\\.0\\.1$\r\n");
  enabled = 1;
  blockListed = 1;
  EXPECT_EQ(Run({"list"}).out,
            "IP filtering enabled, mode: block listed addresses\n192.168.*\n^127\\.0\\.0\\.1$\n");
}

TEST_F(FilterCommandTest, AddRefusesDuplicateIgnoringCaseAndLeavesFile) {
  ASSERT_EQ(Run({"add", "host"}).status, 0);
  Outcome o = Run({"add", "HOST"});
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(o.err, "filter: pattern already listed: HOST\n");
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(saved(), "host\r\n");
}

TEST_F(FilterCommandTest, AddRefusesEmptyAndInvalidPatternsWithoutCreatingTheFile) {
  Outcome empty = Run({"add", ""});
  EXPECT_EQ(empty.status, 2);
  EXPECT_EQ(empty.err, "filter: the pattern must not be empty (it would match every address)\n");
  Outcome range = Run({"add", "[z-a]"});
  EXPECT_EQ(range.status, 2);
  EXPECT_EQ(range.err, "filter: invalid pattern [z-a]: Illegal [] range\n");
  Outcome star = Run({"add", "(1"});
  EXPECT_EQ(star.err, "filter: invalid pattern (1: Mismatched () or []\n");
  Outcome large = Run({"add", std::string(1100, '1')});
  EXPECT_EQ(large.status, 2);
  EXPECT_EQ(large.err, "filter: invalid pattern " + std::string(1100, '1') + ": Pattern too large\n");
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(FilterCommandTest, RemoveDeletesMatchingEntryInWildcardForm) {
  dir.write(kFilterFileName, "a\r\n10.[0-9]+\r\nb\r\n");
  Outcome o = Run({"remove", "10.*"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "Removed 10.*\n");
  EXPECT_EQ(saved(), "a\r\nb\r\n");
}

TEST_F(FilterCommandTest, RemoveOfUnlistedPatternIsAnErrorAndChangesNothing) {
  dir.write(kFilterFileName, "a\n");
  Outcome o = Run({"remove", "b"});
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(o.err, "filter: pattern not listed: b\n");
  EXPECT_EQ(saved(), "a\n");
}

TEST_F(FilterCommandTest, EnableDisableAndModeSetOnlyTheFlags) {
  Outcome on = Run({"enable"});
  EXPECT_EQ(on.status, 0);
  EXPECT_EQ(on.out, "IP filtering enabled\n");
  EXPECT_EQ(enabled, 1u);
  EXPECT_EQ(Run({"mode", "block"}).out, "Mode: block listed addresses\n");
  EXPECT_EQ(blockListed, 1u);
  EXPECT_EQ(Run({"disable"}).out, "IP filtering disabled\n");
  EXPECT_EQ(enabled, 0u);
  EXPECT_EQ(Run({"mode", "allow"}).out, "Mode: allow only listed addresses\n");
  EXPECT_EQ(blockListed, 0u);
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(FilterCommandTest, UsageErrorsPrintUsageAndChangeNothing) {
  enabled = 1;
  blockListed = 1;
  const std::vector<std::vector<std::string>> bad{
      {}, {"show"}, {"list", "x"}, {"add"}, {"add", "a", "b"}, {"remove"}, {"mode"}, {"mode", "deny"}, {"enable", "1"}};
  for (const auto& args : bad) {
    Outcome o = Run(args);
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err, kUsage);
    EXPECT_EQ(o.out, "");
  }
  EXPECT_EQ(enabled, 1u);
  EXPECT_EQ(blockListed, 1u);
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(FilterCommandTest, UnreadableFileIsNeverOverwritten) {
  std::string big(kMaxFilterFileBytes + 1, 'a');
  dir.write(kFilterFileName, big);
  Outcome o = Run({"add", "b"});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "filter: cannot read " + file.string() + ": File too large\n");
  EXPECT_EQ(saved().size(), big.size());
}

TEST_F(FilterCommandTest, WriteFailureIsReported) {
  dir.write("notadir", "x");
  auto inside = dir.path() / "notadir" / kFilterFileName;
  Outcome o = RunAt(inside, {"add", "b"});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "filter: cannot write " + inside.string() + ": Not a directory\n");
  EXPECT_EQ(o.out, "");
}

}  // namespace
}  // namespace talvek::filter
