// The filter list, its file and the filter command of the daemon.
#include "filter/ip_filter.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>

#include "filter/filter_command.h"
#include "filter/filter_file.h"
#include "support/test_support.h"

namespace talvek::filter {
namespace {

constexpr bool kBlock = true, kAllowOnly = false;

TEST(IpFilter, EntriesMatchUnanchoredWithDotsAsAnyCharacter) {
  struct Case {
    FilterEntries typed;  // in wildcard form, as the operator types them
    bool enabled, block;
    std::vector<std::string> refused, admitted;
  };
  const std::vector<Case> cases{
      {{"192.168.*"}, true, kBlock, {"192.168.1.5", "10.192.168.3"}, {"10.0.0.1"}},
      {{"10.0.0.1"}, true, kBlock, {"110.0.0.12", "10.0.0.15", "10x0y0z1"}, {"10.0.0.2"}},
      {{"^127\\.0\\.0\\.1$"}, true, kAllowOnly, {"127.0.0.2", "127.0.0.10"}, {"127.0.0.1"}},
      {{"^192\\.168\\.1\\.*$"}, true, kBlock, {"192.168.1.5", "192.168.1.255"},
       {"192.168.10.5", "10.192.168.1.5", "192.168.1.", "192.168.105"}},
      {{}, true, kAllowOnly, {"127.0.0.1"}, {}},
      {{}, true, kBlock, {}, {"127.0.0.1"}},
      {{""}, false, kBlock, {}, {"127.0.0.1"}},  // disabled refuses nobody
      {{}, false, kAllowOnly, {}, {"127.0.0.1"}},
      {{"^9", ""}, true, kBlock, {"127.0.0.1", ""}, {}},  // an empty entry matches all
      // Broken entries, and one that stops at the step bound, match nothing.
      {{"[", "[z-a]", "^(1|.|1|.)*x$"}, true, kBlock, {}, {"111.111.111.111"}},
      {{"^127\\.", "(("}, true, kAllowOnly, {}, {"127.0.0.1"}},
  };
  for (const Case& c : cases) {
    FilterEntries stored;
    for (const auto& entry : c.typed) stored.push_back(ToStoredForm(entry));
    FilterList list(stored);
    for (const auto& address : c.refused) EXPECT_TRUE(IsRefused(list, c.enabled, c.block, address)) << address;
    for (const auto& address : c.admitted) EXPECT_FALSE(IsRefused(list, c.enabled, c.block, address)) << address;
  }
}

// Written with CR LF by the filter command below; blank lines are entries too.
TEST(FilterFile, LinesAreEntries) {
  EXPECT_EQ(ParseFilterText("a\r\n\r\nb"), (FilterEntries{"a", "", "b"}));
  EXPECT_EQ(ParseFilterText("a\nb\n"), (FilterEntries{"a", "b"}));
  EXPECT_EQ(ParseFilterText("\r\n"), (FilterEntries{""}));
  EXPECT_EQ(ParseFilterText(""), FilterEntries{});
}

TEST(FilterFile, BanAppendsToTheFileAsItIsOnDisk) {
  test::TempDir dir;
  FilterList list({"a"});
  dir.write(kFilterFileName, "a\r\nadded-elsewhere\r\n");
  EXPECT_EQ(AppendAndSave(dir.path() / kFilterFileName, list, "127.0.0.1"), 0);
  EXPECT_EQ(dir.read(kFilterFileName), "a\r\nadded-elsewhere\r\n127.0.0.1\r\n");
  EXPECT_EQ(list.entries(), (FilterEntries{"a", "added-elsewhere", "127.0.0.1"}));
  dir.write("notadir", "x");  // a failed save still bans in memory
  EXPECT_EQ(AppendAndSave(dir.path() / "notadir" / kFilterFileName, list, "b"), ENOTDIR);
  EXPECT_EQ(list.entries().back(), "b");
  EXPECT_EQ(LoadFilterList(dir.path() / "missing", list), 0);  // a missing file is an empty list
  EXPECT_TRUE(list.entries().empty());
}

TEST(FilterFile, EditorChangesMergeOntoTheFileAsItIsNow) {
  // Opened with a, b; removed b, added c; meanwhile the file lost a and got d.
  EXPECT_EQ(MergeFilterEntries({"a", "b"}, {"a", "c"}, {"b", "d"}), (FilterEntries{"d", "c"}));
  EXPECT_EQ(MergeFilterEntries({"a"}, {"a", "X"}, {"a", "x"}), (FilterEntries{"a", "x"}));  // same ignoring case
  EXPECT_EQ(MergeFilterEntries({}, {}, {"d"}), FilterEntries{"d"});
}

constexpr const char* kUsage =
    "usage: filter list | add PATTERN | remove PATTERN | enable | disable | mode block|allow\n";

struct Step {
  std::vector<std::string> args;
  int status;
  std::string out, err;
  std::string file;  // Filters.txt afterwards ("-": none)
  uint32_t enabled = 0, block = 0;
};

TEST(FilterCommand, EachVerbOnARealFile) {
  test::TempDir dir;
  auto file = dir.path() / kFilterFileName;
  uint32_t enabled = 0, block = 0;
  const std::string big(1100, '1');
  const std::vector<Step> steps{
      {{"list"}, 0, "IP filtering disabled, mode: allow only listed addresses\n", "", "-"},
      {{"add", ""}, 2, "", "filter: the pattern must not be empty (it would match every address)\n", "-"},
      {{"add", "[z-a]"}, 2, "", "filter: invalid pattern [z-a]: Illegal [] range\n", "-"},
      {{"add", "(1"}, 2, "", "filter: invalid pattern (1: Mismatched () or []\n", "-"},
      {{"add", big}, 2, "", "filter: invalid pattern " + big + ": Pattern too large\n", "-"},
      {{"add", "192.168.*"}, 0, "Added 192.168.*\n", "", "192.168.[0-9]+\r\n"},
      {{"add", "Host"}, 0, "Added Host\n", "", "192.168.[0-9]+\r\nHost\r\n"},
      {{"add", "HOST"}, 2, "", "filter: pattern already listed: HOST\n", "192.168.[0-9]+\r\nHost\r\n"},
      {{"enable"}, 0, "IP filtering enabled\n", "", "192.168.[0-9]+\r\nHost\r\n", 1},
      {{"mode", "block"}, 0, "Mode: block listed addresses\n", "", "192.168.[0-9]+\r\nHost\r\n", 1, 1},
      {{"list"}, 0, "IP filtering enabled, mode: block listed addresses\n192.168.*\nHost\n", "",
       "192.168.[0-9]+\r\nHost\r\n", 1, 1},
      {{"remove", "192.168.*"}, 0, "Removed 192.168.*\n", "", "Host\r\n", 1, 1},
      {{"remove", "b"}, 2, "", "filter: pattern not listed: b\n", "Host\r\n", 1, 1},
      {{"disable"}, 0, "IP filtering disabled\n", "", "Host\r\n", 0, 1},
      {{"mode", "allow"}, 0, "Mode: allow only listed addresses\n", "", "Host\r\n"},
  };
  for (const Step& step : steps) {
    std::ostringstream out, err;
    EXPECT_EQ(RunFilterCommand(step.args, file, enabled, block, out, err), step.status) << step.args[0];
    EXPECT_EQ(out.str(), step.out);
    EXPECT_EQ(err.str(), step.err);
    EXPECT_EQ(std::filesystem::exists(file) ? dir.read(kFilterFileName) : "-", step.file);
    EXPECT_EQ(enabled, step.enabled);
    EXPECT_EQ(block, step.block);
  }
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"show"}, {"list", "x"}, {"add"}, {"add", "a", "b"}, {"remove"}, {"mode", "deny"}, {"enable", "1"}}) {
    std::ostringstream out, err;
    EXPECT_EQ(RunFilterCommand(args, file, enabled, block, out, err), 2);
    EXPECT_EQ(err.str(), kUsage);
  }
  dir.write(kFilterFileName, std::string(kMaxFilterFileBytes + 1, 'a'));  // unreadable: never overwritten
  std::ostringstream out, err;
  EXPECT_EQ(RunFilterCommand({"add", "b"}, file, enabled, block, out, err), 1);
  EXPECT_EQ(err.str(), "filter: cannot read " + file.string() + ": File too large\n");
  EXPECT_EQ(dir.read(kFilterFileName).size(), kMaxFilterFileBytes + 1);
}


}  // namespace
}  // namespace talvek::filter
