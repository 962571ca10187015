#include "filter/ip_filter.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "filter/filter_file.h"
#include "support/test_support.h"

namespace talvek::filter {
namespace {

constexpr bool kBlock = true, kAllowOnly = false;

struct RefusalCase {
  FilterEntries typed;  // in wildcard form, as the operator types them
  bool enabled, block;
  std::vector<std::string> refused, admitted;
};

class Refusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(Refusal, EntriesMatchUnanchoredWithDotsAsAnyCharacter) {
  FilterEntries stored;
  for (const auto& entry : GetParam().typed) stored.push_back(ToStoredForm(entry));
  FilterList list(stored);
  for (const auto& address : GetParam().refused)
    EXPECT_TRUE(IsRefused(list, GetParam().enabled, GetParam().block, address)) << address;
  for (const auto& address : GetParam().admitted)
    EXPECT_FALSE(IsRefused(list, GetParam().enabled, GetParam().block, address)) << address;
}

INSTANTIATE_TEST_SUITE_P(
    Lists, Refusal,
    ::testing::Values(
        RefusalCase{{"192.168.*"}, true, kBlock, {"192.168.1.5", "10.192.168.3"}, {"10.0.0.1"}},
        RefusalCase{{"10.0.0.1"}, true, kBlock, {"110.0.0.12", "10.0.0.15", "10x0y0z1"}, {"10.0.0.2"}},
        RefusalCase{{"^127\\.0\\.0\\.1$"}, true, kAllowOnly, {"127.0.0.2", "127.0.0.10"}, {"127.0.0.1"}},
        RefusalCase{{"^192\\.168\\.1\\.*$"}, true, kBlock, {"192.168.1.5", "192.168.1.255"},
                    {"192.168.10.5", "10.192.168.1.5", "192.168.1.", "192.168.105"}},
        RefusalCase{{}, true, kAllowOnly, {"127.0.0.1"}, {}},
        RefusalCase{{}, true, kBlock, {}, {"127.0.0.1"}},
        RefusalCase{{""}, false, kBlock, {}, {"127.0.0.1"}},   // disabled refuses nobody
        RefusalCase{{}, false, kAllowOnly, {}, {"127.0.0.1"}},
        RefusalCase{{"^9", ""}, true, kBlock, {"127.0.0.1", ""}, {}},  // an empty entry matches all
        // Broken entries, and one that stops at the step bound, match nothing.
        RefusalCase{{"[", "[z-a]", "^(1|.|1|.)*x$"}, true, kBlock, {}, {"111.111.111.111"}},
        RefusalCase{{"^127\\.", "(("}, true, kAllowOnly, {}, {"127.0.0.1"}}));

TEST(FilterList, WildcardFormAndSameEntry) {
  EXPECT_EQ(ToStoredForm("*.*"), "[0-9]+.[0-9]+");
  EXPECT_EQ(ToWildcardForm("192.168.[0-9]+"), "192.168.*");
  EXPECT_EQ(ToWildcardForm("[0-9]*"), "[0-9]*");
  EXPECT_TRUE(SameEntry("host.EXAMPLE", "HOST.example"));
  EXPECT_FALSE(SameEntry("10.0.0.1", "10.0.0.1 "));
}

TEST(FilterFile, LinesAreEntriesAndWrittenWithCrLf) {
  EXPECT_EQ(ParseFilterText("a\r\n\r\nb"), (FilterEntries{"a", "", "b"}));
  EXPECT_EQ(ParseFilterText("a\nb\n"), (FilterEntries{"a", "b"}));
  EXPECT_EQ(ParseFilterText("\r\n"), (FilterEntries{""}));
  EXPECT_EQ(ParseFilterText(""), FilterEntries{});
  test::TempDir dir;
  auto file = dir.path() / kFilterFileName;
  FilterEntries entries{"10.0.0.1", "", "192.168.[0-9]+"};
  ASSERT_EQ(WriteFilterFile(file, entries), 0);
  EXPECT_EQ(dir.read(kFilterFileName), "10.0.0.1\r\n\r\n192.168.[0-9]+\r\n");
  FilterList list;
  EXPECT_EQ(LoadFilterList(file, list), 0);
  EXPECT_EQ(list.entries(), entries);
}

TEST(FilterFile, UnreadableFileKeepsTheListInForceAndMissingFileEmptiesIt) {
  test::TempDir dir;
  FilterList list({"^127\\."});
  dir.write("big", std::string(kMaxFilterFileBytes + 1, 'a'));
  EXPECT_EQ(LoadFilterList(dir.path() / "big", list), EFBIG);
  std::filesystem::create_directory(dir.path() / "dir");
  EXPECT_EQ(LoadFilterList(dir.path() / "dir", list), EISDIR);
  EXPECT_EQ(list.entries(), FilterEntries{"^127\\."});
  EXPECT_EQ(LoadFilterList(dir.path() / "missing", list), 0);
  EXPECT_TRUE(list.entries().empty());
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
}

TEST(FilterFile, EditorChangesMergeOntoTheFileAsItIsNow) {
  // Opened with a, b; removed b, added c; meanwhile the file lost a and got d.
  EXPECT_EQ(MergeFilterEntries({"a", "b"}, {"a", "c"}, {"b", "d"}), (FilterEntries{"d", "c"}));
  EXPECT_EQ(MergeFilterEntries({"a"}, {"a", "X"}, {"a", "x"}), (FilterEntries{"a", "x"}));  // same ignoring case
  EXPECT_EQ(MergeFilterEntries({}, {}, {"d"}), FilterEntries{"d"});
}

}  // namespace
}  // namespace talvek::filter
