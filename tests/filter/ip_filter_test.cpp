#include "filter/ip_filter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "filter/filter_file.h"
#include "filter/pattern_engine.h"
#include "support/test_support.h"

namespace talvek::filter {
namespace {

constexpr bool kEnabled = true;
constexpr bool kBlock = true;
constexpr bool kAllowOnly = false;

TEST(WildcardFormTest, StarBecomesDigitRunAndBack) {
  EXPECT_EQ(ToStoredForm("192.168.*"), "192.168.[0-9]+");
  EXPECT_EQ(ToStoredForm("*.*"), "[0-9]+.[0-9]+");
  EXPECT_EQ(ToStoredForm("^10\\.0\\.0\\.1$"), "^10\\.0\\.0\\.1$");
  EXPECT_EQ(ToWildcardForm("192.168.[0-9]+"), "192.168.*");
  EXPECT_EQ(ToWildcardForm("[0-9]*"), "[0-9]*");
  EXPECT_EQ(ToWildcardForm(ToStoredForm("1*2*3")), "1*2*3");
}

TEST(WildcardFormTest, SameEntryIgnoresCaseOnly) {
  EXPECT_TRUE(SameEntry("host.EXAMPLE", "HOST.example"));
  EXPECT_FALSE(SameEntry("10.0.0.1", "10.0.0.1 "));
}

TEST(IsRefusedTest, BlockModeWildcardEntryMatchesAnywhereInTheAddress) {
  FilterEntries entries{ToStoredForm("192.168.*")};
  EXPECT_TRUE(IsRefused(entries, kEnabled, kBlock, "192.168.1.5"));
  EXPECT_TRUE(IsRefused(entries, kEnabled, kBlock, "10.192.168.3"));
  EXPECT_FALSE(IsRefused(entries, kEnabled, kBlock, "10.0.0.1"));
}

TEST(IsRefusedTest, DotsInAnEntryAreAnyCharacter) {
  FilterEntries entries{"10.0.0.1"};
  EXPECT_TRUE(IsRefused(entries, kEnabled, kBlock, "110.0.0.12"));
  EXPECT_TRUE(IsRefused(entries, kEnabled, kBlock, "10.0.0.15"));
  EXPECT_TRUE(IsRefused(entries, kEnabled, kBlock, "10x0y0z1"));
  EXPECT_FALSE(IsRefused(entries, kEnabled, kBlock, "10.0.0.2"));
}

TEST(IsRefusedTest, AllowOnlyModeRefusesWhatNoEntryMatches) {
  FilterEntries entries{"^127\\.0\\.0\\.1$"};
  EXPECT_FALSE(IsRefused(entries, kEnabled, kAllowOnly, "127.0.0.1"));
  EXPECT_TRUE(IsRefused(entries, kEnabled, kAllowOnly, "127.0.0.2"));
  EXPECT_TRUE(IsRefused(FilterEntries{}, kEnabled, kAllowOnly, "127.0.0.1"));
  EXPECT_FALSE(IsRefused(FilterEntries{}, kEnabled, kBlock, "127.0.0.1"));
}

TEST(IsRefusedTest, DisabledFilterRefusesNobodyInEitherMode) {
  EXPECT_FALSE(IsRefused(FilterEntries{}, false, kAllowOnly, "127.0.0.1"));
  EXPECT_FALSE(IsRefused(FilterEntries{""}, false, kBlock, "127.0.0.1"));
}

TEST(IsRefusedTest, EmptyEntryMatchesEveryAddressEvenAnEmptyOne) {
  FilterEntries entries{"^9", ""};
  EXPECT_TRUE(IsRefused(entries, kEnabled, kBlock, "127.0.0.1"));
  EXPECT_TRUE(IsRefused(entries, kEnabled, kBlock, ""));
}

TEST(IsRefusedTest, BrokenOrBoundExceedingEntryMatchesNothing) {
  const char* hostile = "^(1|.|1|.)*x$";
  EXPECT_FALSE(EntryMatches("[z-a]", "127.0.0.1"));
  EXPECT_FALSE(EntryMatches(hostile, "111.111.111.111"));
  FilterEntries entries{"[", hostile};
  EXPECT_FALSE(IsRefused(entries, kEnabled, kBlock, "111.111.111.111"));
  EXPECT_TRUE(IsRefused(entries, kEnabled, kAllowOnly, "111.111.111.111"));
}

TEST(IsRefusedTest, FirstMatchingEntryDecidesAndLaterBrokenOnesDoNotMatter) {
  FilterEntries entries{"^127\\.", "(("};
  EXPECT_TRUE(IsRefused(entries, kEnabled, kBlock, "127.0.0.1"));
  EXPECT_FALSE(IsRefused(entries, kEnabled, kAllowOnly, "127.0.0.1"));
}

TEST(RecheckTest, ReturnsIndicesOfPeersTheEditedListRefuses) {
  FilterList list({"^127\\.0\\.0\\.2$"});
  std::vector<std::string> peers{"127.0.0.1", "127.0.0.2", "127.0.0.20", "127.0.0.2"};
  EXPECT_EQ(FindRefusedPeers(list, kEnabled, kBlock, peers), (std::vector<std::size_t>{1, 3}));
  EXPECT_EQ(FindRefusedPeers(list, kEnabled, kAllowOnly, peers), (std::vector<std::size_t>{0, 2}));
  EXPECT_TRUE(FindRefusedPeers(list, false, kAllowOnly, peers).empty());
}

TEST(FilterListTest, SnapshotKeepsTheListAsItWasWhenTaken) {
  FilterList list({"a"});
  auto before = list.snapshot();
  list.append("b");
  list.replace({"c"});
  EXPECT_EQ(*before, (FilterEntries{"a"}));
  EXPECT_EQ(list.entries(), (FilterEntries{"c"}));
}

TEST(FilterListTest, ReaderSeesWholeOldOrWholeNewListDuringEdits) {
  FilterList list(FilterEntries(8, "^127\\."));
  std::atomic<bool> done{false};
  std::thread editor([&] {
    for (int i = 0; i < 2000; ++i) {
      list.replace(FilterEntries(8, i % 2 ? "^127\\." : "^10\\."));
    }
    done = true;
  });
  int mixed = 0;
  for (int i = 0; i < 200000 && !done; ++i) {
    auto entries = list.snapshot();
    for (const std::string& entry : *entries) mixed += entry != entries->front();
    IsRefused(*entries, kEnabled, kBlock, "127.0.0.1");
  }
  editor.join();
  EXPECT_EQ(mixed, 0);
}

TEST(FilterFileTest, LinesWithoutTheirEndsAreEntriesIncludingEmptyOnes) {
  EXPECT_EQ(ParseFilterText("a\r\nb\r\n"), (FilterEntries{"a", "b"}));
  EXPECT_EQ(ParseFilterText("a\r\n\r\nb"), (FilterEntries{"a", "", "b"}));
  EXPECT_EQ(ParseFilterText("a\nb\n"), (FilterEntries{"a", "b"}));
  EXPECT_EQ(ParseFilterText("\r\n"), (FilterEntries{""}));
  EXPECT_EQ(ParseFilterText(""), FilterEntries{});
  EXPECT_EQ(FormatFilterText({"a", "", "[0-9]+"}), "a\r\n\r\n[0-9]+\r\n");
}

TEST(FilterFileTest, SaveAndLoadRoundTripInOrder) {
  test::TempDir dir;
  auto file = dir.path() / kFilterFileName;
  FilterEntries entries{"10.0.0.1", "", "192.168.[0-9]+", "^127\\.0\\.0\\.1$"};
  ASSERT_EQ(WriteFilterFile(file, entries), 0);
  EXPECT_EQ(dir.read(kFilterFileName), "10.0.0.1\r\n\r\n192.168.[0-9]+\r\n^127\\.0\\.0\\.1$\r\n");
  FilterList list;
  EXPECT_EQ(LoadFilterList(file, list), 0);
  EXPECT_EQ(list.entries(), entries);
}

TEST(FilterFileTest, MissingFileIsAnEmptyListWithoutError) {
  test::TempDir dir;
  FilterList list({"stale"});
  EXPECT_EQ(LoadFilterList(dir.path() / kFilterFileName, list), 0);
  EXPECT_TRUE(list.entries().empty());
}

TEST(FilterFileTest, OversizedFileIsUnreadableAndLoadsEmpty) {
  test::TempDir dir;
  dir.write(kFilterFileName, std::string(kMaxFilterFileBytes + 1, 'a'));
  FilterList list;
  EXPECT_EQ(LoadFilterList(dir.path() / kFilterFileName, list), EFBIG);
  EXPECT_TRUE(list.entries().empty());
}

TEST(FilterFileTest, AppendAndSaveKeepsEntryInMemoryWhenTheWriteFails) {
  test::TempDir dir;
  dir.write("notadir", "x");
  FilterList list({"a"});
  EXPECT_EQ(AppendAndSave(dir.path() / kFilterFileName, list, "127.0.0.1"), 0);
  EXPECT_EQ(dir.read(kFilterFileName), "a\r\n127.0.0.1\r\n");
  EXPECT_EQ(AppendAndSave(dir.path() / "notadir" / kFilterFileName, list, "b"), ENOTDIR);
  EXPECT_EQ(list.entries(), (FilterEntries{"a", "127.0.0.1", "b"}));
}

// The examples of docs/ip-filter.md, checked against the real conversion.
TEST(FilterDocsTest, UnanchoredEntryAndItsExactForm) {
  FilterEntries loose{ToStoredForm("127.0.0.1")};
  EXPECT_TRUE(IsRefused(loose, kEnabled, kBlock, "127.0.0.1"));
  EXPECT_TRUE(IsRefused(loose, kEnabled, kBlock, "127.0.0.10"));
  EXPECT_TRUE(IsRefused(loose, kEnabled, kBlock, "10.127.0.0.1"));
  FilterEntries exact{ToStoredForm("^127\\.0\\.0\\.1$")};
  EXPECT_TRUE(IsRefused(exact, kEnabled, kBlock, "127.0.0.1"));
  EXPECT_FALSE(IsRefused(exact, kEnabled, kBlock, "127.0.0.10"));
  EXPECT_FALSE(IsRefused(exact, kEnabled, kBlock, "10.127.0.0.1"));
  EXPECT_FALSE(IsRefused(exact, kEnabled, kBlock, "127x0y0z1"));
}

TEST(FilterDocsTest, ExactSubnetEntryWithWildcard) {
  FilterEntries subnet{ToStoredForm("^192\\.168\\.1\\.*$")};
  EXPECT_EQ(subnet.front(), "^192\\.168\\.1\\.[0-9]+$");
  EXPECT_TRUE(IsRefused(subnet, kEnabled, kBlock, "192.168.1.5"));
  EXPECT_TRUE(IsRefused(subnet, kEnabled, kBlock, "192.168.1.255"));
  EXPECT_FALSE(IsRefused(subnet, kEnabled, kBlock, "192.168.10.5"));
  EXPECT_FALSE(IsRefused(subnet, kEnabled, kBlock, "10.192.168.1.5"));
  EXPECT_FALSE(IsRefused(subnet, kEnabled, kBlock, "192.168.1."));
  EXPECT_FALSE(IsRefused(subnet, kEnabled, kBlock, "192.168.105"));
  FilterEntries loose{ToStoredForm("192.168.1.*")};
  EXPECT_TRUE(IsRefused(loose, kEnabled, kBlock, "192.168.105"));
  EXPECT_TRUE(IsRefused(loose, kEnabled, kBlock, "10.192.168.1.5"));
}

}  // namespace
}  // namespace talvek::filter
