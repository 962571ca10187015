#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>
#include <thread>

#include "log/log_thread.h"
#include "support/test_support.h"

namespace talvek::log {
namespace {

TEST(LogThread, LinesFromManyThreadsAreWrittenWholeAndInEachThreadsOrder) {
  test::TempDir dir;
  LogThread log;
  ASSERT_EQ(log.open(dir.path() / "server.log"), 0);
  constexpr int kThreads = 4, kLines = 500;
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t)
    writers.emplace_back([&log, t] {
      for (int i = 0; i < kLines; ++i) log.write("T" + std::to_string(t) + " " + std::to_string(i) + "\r\n");
    });
  for (auto& writer : writers) writer.join();
  ASSERT_TRUE(log.flush());
  std::vector<int> next(kThreads, 0);
  std::istringstream text(test::ReadFile(dir.path() / "server.log"));
  for (std::string line; std::getline(text, line);) {
    ASSERT_TRUE(line.size() > 2 && line[1] >= '0' && line[1] < '0' + kThreads) << line;
    int thread = line[1] - '0';
    ASSERT_EQ(line, "T" + std::to_string(thread) + " " + std::to_string(next[thread]++) + "\r");
  }
  EXPECT_EQ(next, std::vector<int>(kThreads, kLines));
}

TEST(LogThread, AppendsToAnExistingFileKeepsTheOldOnReopeningAndDropsWhileClosed) {
  test::TempDir dir;
  dir.write("old.log", "before\r\n");
  LogThread log;
  log.write("dropped while closed");
  EXPECT_EQ(log.open(dir.path() / "missing" / "x.log"), ENOENT);
  EXPECT_FALSE(log.isOpen());
  ASSERT_EQ(log.open(dir.path() / "old.log"), 0);
  log.write("one");
  ASSERT_EQ(log.open(dir.path() / "b.log"), 0);
  log.write("two");
  log.close();
  log.write("dropped again");
  ASSERT_TRUE(log.flush());
  EXPECT_EQ(dir.read("old.log"), "before\r\none");
  EXPECT_EQ(dir.read("b.log"), "two");
}

TEST(LogThread, AFloodOutrunningTheFileIsBoundedAndTheDropIsNoted) {
  test::TempDir dir;
  auto fifo = dir.path() / "log.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  LogThread log;
  ASSERT_EQ(log.open(fifo), 0);
  const std::string text(1024 * 1024, 'x');
  for (int i = 0; i < 64; ++i) log.write(text);  // the writer is stuck on the unread pipe meanwhile
  std::string written;
  char buffer[65536];
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (bool done = false; !done && std::chrono::steady_clock::now() < until;) {
    done = log.flush(std::chrono::milliseconds(1));
    for (ssize_t n; (n = ::read(reader, buffer, sizeof buffer)) > 0;) written.append(buffer, static_cast<size_t>(n));
  }
  ::close(reader);
  // What waits is bounded (plus the batch being written); every text is written or counted.
  size_t kept = written.find_first_not_of('x') / text.size();
  EXPECT_LE(kept * text.size(), 2 * LogThread::kQueueLimit);
  EXPECT_EQ(written.substr(kept * text.size()), std::to_string(64 - kept) + " log texts dropped\r\n\r\n");
}

TEST(LogText, ClientBytesAreEscapedAndOnlyCrLfPairsMayStay) {
  const struct {
    std::string in;
    bool keep_line_ends;
    std::string out;
  } table[] = {
      {"NOOP\nFAKE line", false, "NOOP\\x0aFAKE line"},
      {"\x1b[2J\x07\x08\x7f\t", false, "\\x1b[2J\\x07\\x08\\x7f\\x09"},
      {std::string("a\0b", 3), false, "a\\x00b"},
      {"l\xc3\xa9 \\ ~", false, "l\xc3\xa9 \\ ~"},
      {"214-a\r\n214 b\r\n", false, "214-a\\x0d\\x0a214 b\\x0d\\x0a"},
      {"214-a\r\n214 b\n\r\r\n", true, "214-a\r\n214 b\\x0a\\x0d\r\n"},
  };
  for (const auto& row : table) EXPECT_EQ(EscapeControlBytes(row.in, row.keep_line_ends), row.out) << row.in;
}

}  // namespace
}  // namespace talvek::log
