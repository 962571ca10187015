// Downloads and uploads over a real data connection: exact bytes, restart
// offsets, the file cache, redirection and the records left.
#include <fstream>

#include "transfer_fixture.h"

namespace talvek::test {
namespace {

const char k250[] = "250 Requested file action okay, completed.";
const char kNotFound[] = "550 Requested action not taken. File unavailable. File does not exist";

class DownloadTest : public TransferTest {};

TEST_F(DownloadTest, RetrSendsTheFileByteForByteAndCountsAndListsIt) {
  fixture_.server().updateSettings([](auto& s) { s.general.recordFileLists = 1; });
  std::string content = Pattern(3 << 20);
  root_.write("sub/data.bin", content);
  root_.write("empty", "");
  auto client = loggedIn();
  EXPECT_TRUE(fetch(*client, "RETR sub/data.bin") == content);
  EXPECT_EQ(fetch(*client, "RETR empty"), "");
  EXPECT_EQ(fetch(*client, "RETR missing", kNotFound), "");
  EXPECT_EQ(fixture_.server().bytes_sent.load(), content.size());
  auto record = fixture_.server().registrySnapshot().front();
  EXPECT_EQ(record->texts.lock()->downloads_list,
            "Downloads:\r\n" + root_.dir() + "sub/data.bin\r\n" + root_.dir() + "empty\r\n");
}

TEST_F(DownloadTest, RestSendsTheRestCountsTheWholeAndIsClearedAfter) {
  std::string content = Pattern(1000);
  const int64_t huge = int64_t{5} << 30;  // past 32-bit offsets, in a sparse file
  root_.write("f.bin", content);
  root_.write("huge.bin", "");
  std::filesystem::resize_file(root_.path() / "huge.bin", huge);
  std::ofstream(root_.path() / "huge.bin", std::ios::app) << "tail";
  auto client = loggedIn();
  // Offset -> bytes sent; an offset beyond the end sends the whole file.
  for (auto [offset, file, expected] : std::initializer_list<std::tuple<int64_t, const char*, std::string>>{
           {100, "f.bin", content.substr(100)}, {5000, "f.bin", content}, {0, "f.bin", content},
           {huge, "huge.bin", "tail"}}) {
    EXPECT_EQ(client->ask("REST " + std::to_string(offset)), "350 Requested file action pending further information");
    EXPECT_EQ(fetch(*client, std::string("RETR ") + file), expected);
    EXPECT_EQ(fixture_.server().registrySnapshot().front()->shared.restart_offset.load(), 0);
  }
  EXPECT_EQ(fixture_.server().bytes_sent.load(), 3000u + static_cast<uint64_t>(huge) + 4);
}

TEST_F(DownloadTest, TheFileCacheServesACopyOnlyWhileTheFileIsUnchanged) {
  root_.write("small.txt", "first");
  SetModified(root_.path() / "small.txt", kLongAgo);
  auto client = loggedIn();
  auto& cache = fixture_.server().fileCache();
  EXPECT_EQ(fetch(*client, "RETR small.txt"), "first");
  EXPECT_EQ(fetch(*client, "RETR small.txt"), "first");
  EXPECT_EQ(cache.hits(), 1u);
  // A restart offset bypasses the cached copy (the lookup still counts).
  EXPECT_EQ(client->ask("REST 2"), "350 Requested file action pending further information");
  EXPECT_EQ(fetch(*client, "RETR small.txt"), "rst");
  EXPECT_EQ(cache.hits(), 2u);
  // Changed on disk: another size and time; then the same size and time in another inode.
  root_.write("small.txt", "second!");
  EXPECT_EQ(fetch(*client, "RETR small.txt"), "second!");
  SetModified(root_.path() / "small.txt", kLongAgo);
  EXPECT_EQ(fetch(*client, "RETR small.txt"), "second!");
  root_.write("next.txt", "THIRD!!");
  SetModified(root_.path() / "next.txt", kLongAgo);
  std::filesystem::rename(root_.path() / "next.txt", root_.path() / "small.txt");
  EXPECT_EQ(fetch(*client, "RETR small.txt"), "THIRD!!");
  EXPECT_EQ(fetch(*client, "RETR small.txt"), "THIRD!!");
  // New bytes in the same inode with size and time put back, as `cp -p` leaves them.
  root_.write("small.txt", "FOURTH!");
  SetModified(root_.path() / "small.txt", kLongAgo);
  EXPECT_EQ(fetch(*client, "RETR small.txt"), "FOURTH!");
  EXPECT_EQ(cache.hits(), 3u);
  EXPECT_EQ(cache.misses(), 5u);
  ASSERT_TRUE(client->command("XSTS"));
  EXPECT_EQ(client->readReply(), "214- Server status:\r\n214- Users connected: 1\r\n214 Files transferred: 8");
  EXPECT_EQ(client->readLine(), "");
  // Files above a quarter of the cache are streamed, not cached.
  fixture_.server().updateSettings([](auto& s) { s.cache.fileCacheKB = 4; });
  fixture_.server().applyCacheSettings();
  for (auto [name, size] : {std::pair{"fits", 1024}, {"over", 1025}}) {
    root_.write(name, std::string(size, 'f'));
    SetModified(root_.path() / name, kLongAgo);
    EXPECT_EQ(fetch(*client, std::string("RETR ") + name), std::string(size, 'f'));
  }
  EXPECT_EQ(cache.count(), 2u);
  EXPECT_EQ(cache.used(), 1024u + 7);  // and "THIRD!!"
}

class UploadTest : public TransferTest {};

TEST_F(UploadTest, StorReplacesResumesAfterRestAndAppeAppendsOrCreates) {
  std::string big = Pattern(3 << 20);
  root_.write("keep.txt", "original");
  root_.write("log.txt", "one\n");
  root_.write("big.bin", big.substr(0, 1 << 20) + std::string(5, 'x'));
  auto client = loggedIn();
  uint64_t received = 0;
  struct Case {
    int64_t rest;
    std::string command, bytes, file, content, reply = k250;
  };
  for (const Case& c :
       {Case{0, "STOR up.bin", Pattern(5 << 20, 1), "up.bin", Pattern(5 << 20, 1)},
        {0, "STOR empty.txt", "", "empty.txt", ""},
        {0, "STOR keep.txt", "new", "keep.txt", "new"},
        {0, "APPE log.txt", "two\n", "log.txt", "one\ntwo\n"},
        {0, "APPE fresh.txt", "x", "fresh.txt", "x"},
        // REST n: the first n bytes stay, the rest is the upload (REST STREAM).
        {4, "STOR log.txt", "TWO", "log.txt", "one\nTWO"},
        {1 << 20, "STOR big.bin", big.substr(1 << 20), "big.bin", big},
        {3, "STOR keep.txt", "", "keep.txt", "new"},
        {2, "STOR fresh.txt", "yz", "fresh.txt", "x", "554 Requested action not taken: invalid REST parameter"},
        {2, "STOR none.txt", "z", "none.txt", "", kNotFound},
        // Each REST serves one transfer, and APPE appends whatever it says.
        {0, "STOR fresh.txt", "new", "fresh.txt", "new"},
        {1, "APPE fresh.txt", "!", "fresh.txt", "new!"},
        {0, "STOR fresh.txt", "0", "fresh.txt", "0"}}) {
    if (c.rest) {
      EXPECT_EQ(client->ask("REST " + std::to_string(c.rest)), "350 Requested file action pending further information");
    }
    EXPECT_EQ(exchange(*client, c.command, c.bytes).replies, "1xx\n" + c.reply) << c.command;
    EXPECT_TRUE(root_.read(c.file) == c.content) << c.command;
    if (c.reply == k250) received += c.bytes.size();
  }
  EXPECT_EQ(fixture_.server().bytes_received.load(), received);
}

TEST_F(UploadTest, RedirectedUploadsLandInTheUploadsDirectory) {
  TempDir uploads;
  root_.write("sub/x", "");
  auto client = loggedIn();
  changeRecord([&](auto& record) {
    record.control.redirect_uploads = true;
    record.control.uploads_directory = uploads.dir();
    record.texts.lock()->current_directory = root_.dir() + "sub/";
  });
  EXPECT_EQ(exchange(*client, "STOR r.txt", "redirected").replies, std::string("1xx\n") + k250);
  EXPECT_EQ(uploads.read("r.txt"), "redirected");
  EXPECT_FALSE(std::filesystem::exists(root_.path() / "sub" / "r.txt"));
}

}  // namespace
}  // namespace talvek::test
