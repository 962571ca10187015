#include "filter/filter_command.h"

#include <gtest/gtest.h>

#include <sstream>

#include "filter/filter_file.h"
#include "support/test_support.h"

namespace talvek::filter {
namespace {

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
}

TEST(FilterCommand, UnreadableFileIsNeverOverwritten) {
  test::TempDir dir;
  std::string big(kMaxFilterFileBytes + 1, 'a');
  dir.write(kFilterFileName, big);
  uint32_t enabled = 0, block = 0;
  std::ostringstream out, err;
  EXPECT_EQ(RunFilterCommand({"add", "b"}, dir.path() / kFilterFileName, enabled, block, out, err), 1);
  EXPECT_EQ(err.str(), "filter: cannot read " + (dir.path() / kFilterFileName).string() + ": File too large\n");
  EXPECT_EQ(dir.read(kFilterFileName).size(), big.size());
}

}  // namespace
}  // namespace talvek::filter
