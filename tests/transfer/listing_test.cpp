// The long listing line, LIST and NLST over a data connection, and the
// directory cache behind LIST.
#include <sys/stat.h>

#include <algorithm>

#include "protocol/listing_format.h"
#include "transfer_fixture.h"

namespace talvek::test {
namespace {

TEST(ListingLineTest, FixedColumnsModeSizeDateAndName) {
  for (const auto& [entry, line] : std::initializer_list<std::pair<transfer::ListedEntry, const char*>>{
           {{"readme.txt", false, 1234, LocalTime(2001, 6, 5)},
            "----------    1 owner     group       1234 Jun 05 2001  readme.txt\r\n"},
           {{"pub", true, 0, LocalTime(2001, 1, 17)},
            "d---------    1 owner     group          0 Jan 17 2001  pub\r\n"},
           // Sizes above 2 GiB stay positive and whole.
           {{"big", false, 2147483648u, LocalTime(2010, 12, 31)},
            "----------    1 owner     group 2147483648 Dec 31 2010  big\r\n"},
           {{"big", false, uint64_t{5} << 30, LocalTime(2010, 12, 31)},
            "----------    1 owner     group 5368709120 Dec 31 2010  big\r\n"}})
    EXPECT_EQ(transfer::LongListingLine(entry), line);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end = text.find("\r\n"); end != std::string::npos; end = text.find("\r\n", start)) {
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  EXPECT_EQ(start, text.size()) << "text must end with CR LF";
  std::sort(lines.begin(), lines.end());
  return lines;
}

class ListingTest : public TransferTest {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(root_.path() / "pub");
    root_.write("readme.txt", std::string(1234, 'r'));
    SetModified(root_.path() / "pub", LocalTime(2001, 1, 17));
    SetModified(root_.path() / "readme.txt", LocalTime(2001, 6, 5));
  }
  // The line of a directory below the root, as its stat shows it.
  std::string dirLine(const char* name) {
    struct stat info {};
    ::stat((root_.dir() + name).c_str(), &info);
    return transfer::LongListingLine({name, true, static_cast<uint64_t>(info.st_size), info.st_mtime});
  }
};

TEST_F(ListingTest, ListShowsEveryEntryIncludingDotsAndCountsTheBytes) {
  auto client = loggedIn();
  std::string listing = fetch(*client, "LIST");
  std::string expected = dirLine(".") + dirLine("..") + dirLine("pub") +
                         "----------    1 owner     group       1234 Jun 05 2001  readme.txt\r\n";
  EXPECT_EQ(Lines(listing), Lines(expected));
  EXPECT_EQ(fixture_.server().bytes_sent.load(), listing.size());
}

TEST_F(ListingTest, TheDirectoryCacheServesACopyOnlyWhileTheDirectoryIsUnchanged) {
  SetModified(root_.path(), kLongAgo);
  auto client = loggedIn();
  auto& cache = fixture_.server().directoryCache();
  std::string first = fetch(*client, "LIST");
  EXPECT_EQ(fetch(*client, "LIST"), first);
  EXPECT_EQ(fetch(*client, "LIST -L"), first);
  EXPECT_EQ(cache.hits(), 2u);
  // Created, then deleted on disk: seen by the next LIST.
  root_.write("new.txt", "n");
  EXPECT_NE(fetch(*client, "LIST").find(" new.txt\r\n"), std::string::npos);
  std::filesystem::remove(root_.path() / "new.txt");
  SetModified(root_.path(), kLongAgo);
  std::string again = fetch(*client, "LIST");
  EXPECT_EQ(again.find(" new.txt\r\n"), std::string::npos);
  EXPECT_EQ(fetch(*client, "LIST"), again);
  EXPECT_EQ(cache.hits(), 3u);
  EXPECT_EQ(cache.misses(), 3u);
  EXPECT_EQ(cache.count(), 1u);
  // Changed in place, or its old time put back: the directory's own time
  // stays, the listing still follows.
  root_.write("readme.txt", std::string(99, 'r'));
  EXPECT_NE(fetch(*client, "LIST").find(" group         99 "), std::string::npos);
  root_.write("readme.txt", std::string(1234, 'R'));
  SetModified(root_.path() / "readme.txt", LocalTime(2001, 6, 5));
  EXPECT_EQ(fetch(*client, "LIST"), again);
  EXPECT_EQ(fetch(*client, "LIST"), again);
  EXPECT_EQ(cache.hits(), 4u);
  EXPECT_EQ(cache.misses(), 5u);
  // With caching off nothing is stored.
  fixture_.server().updateSettings([](auto& s) { s.cache.cacheDirs = 0; });
  cache.clear();
  fetch(*client, "LIST");
  EXPECT_EQ(cache.count(), 0u);
}

TEST_F(ListingTest, PatternsFilterAreNeverCachedAndNlstSendsBareNamesUncounted) {
  root_.write("notes.txt", "1");
  root_.write("image.png", "2");
  root_.write("pub/inner.bin", "12");
  auto client = loggedIn();
  for (const char* command : {"LIST *.txt", "LIST -la *.txt"}) {
    auto lines = Lines(fetch(*client, command));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find(" notes.txt"), std::string::npos);
    EXPECT_NE(lines[1].find(" readme.txt"), std::string::npos);
  }
  EXPECT_EQ(fetch(*client, "LIST readme.txt"),
            "----------    1 owner     group       1234 Jun 05 2001  readme.txt\r\n");
  EXPECT_EQ(fixture_.server().directoryCache().count(), 0u);
  auto sent = fixture_.server().bytes_sent.load();
  EXPECT_EQ(Lines(fetch(*client, "NLST")),
            (std::vector<std::string>{".", "..", "image.png", "notes.txt", "pub", "readme.txt"}));
  EXPECT_EQ(Lines(fetch(*client, "NLST *.txt")), (std::vector<std::string>{"notes.txt", "readme.txt"}));
  EXPECT_EQ(fetch(*client, "NLST nothing*"), "");
  // Relative to the current directory.
  EXPECT_EQ(client->ask("CWD pub"), "250 pub is current working directory");
  EXPECT_EQ(fetch(*client, "NLST inner*"), "inner.bin\r\n");
  EXPECT_EQ(fixture_.server().bytes_sent.load(), sent);
}

TEST_F(ListingTest, ADirectoryArgumentListsItsContentsAndOptionsAreIgnored) {
  root_.write("pub/.dotted", "secret");
  root_.write("pub/inner.bin", "12");
  auto client = loggedIn();
  std::string root_listing = fetch(*client, "LIST");
  for (const char* command : {"LIST -l", "LIST -la", "LIST -a  ", "LIST -"})
    EXPECT_EQ(fetch(*client, command), root_listing);
  std::string pub_listing = fetch(*client, "LIST pub");
  EXPECT_EQ(Lines(pub_listing).size(), 4u) << pub_listing;
  EXPECT_NE(pub_listing.find("          6 "), std::string::npos) << pub_listing;
  for (const char* command : {"LIST -la pub", "LIST -a pub/", "LIST /pub"})
    EXPECT_EQ(fetch(*client, command), pub_listing);
  for (const char* command : {"NLST pub", "NLST -a pub", "NLST -la /pub/"})
    EXPECT_EQ(Lines(fetch(*client, command)), (std::vector<std::string>{".", "..", ".dotted", "inner.bin"}));
  EXPECT_EQ(fetch(*client, "RETR pub/.dotted"), "secret");
}

TEST_F(ListingTest, MlsdSendsTheFactsOfADirectorysEntries) {
  root_.write("pub/.dotted", "secret");
  SetModified(root_.path() / "pub" / ".dotted", 1'000'000'000);  // 2001-09-09 01:46:40 UTC
  struct stat info {};
  ::stat((root_.dir() + "pub/.dotted").c_str(), &info);
  char unique[40];
  std::snprintf(unique, sizeof unique, "%llxU%llx", static_cast<unsigned long long>(info.st_dev),
                static_cast<unsigned long long>(info.st_ino));
  auto client = loggedIn(3);  // read and write
  std::string line = "type=file;size=6;modify=20010909014640;perm=r;unique=" + std::string(unique) + "; .dotted\r\n";
  EXPECT_EQ(fetch(*client, "MLSD pub"), line);
  EXPECT_EQ(fixture_.server().bytes_sent.load(), line.size());
  EXPECT_EQ(client->ask("OPTS MLST type;size;"), "200 MLST OPTS type;size;");
  EXPECT_EQ(fetch(*client, "MLSD /pub/"), "type=file;size=6; .dotted\r\n");
  EXPECT_EQ(fetch(*client, "MLSD readme.txt", "501 Syntax error in parameters or arguments"), "");
  EXPECT_EQ(fetch(*client, "MLSD nothing", "550 Requested action not taken. File unavailable. File does not exist"),
            "");
}

}  // namespace
}  // namespace talvek::test
