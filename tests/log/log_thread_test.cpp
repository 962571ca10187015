#include <gtest/gtest.h>

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
  std::string text = test::ReadFile(dir.path() / "server.log");
  std::vector<int> next(kThreads, 0);
  size_t lines = 0;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find("\r\n", start);
    ASSERT_NE(end, std::string::npos);
    std::string line = text.substr(start, end - start);
    int thread = line[1] - '0';
    ASSERT_EQ(line, "T" + std::to_string(thread) + " " + std::to_string(next[thread]));
    ++next[thread];
    ++lines;
    start = end + 2;
  }
  EXPECT_EQ(lines, static_cast<size_t>(kThreads * kLines));
}

TEST(LogThread, ExistingFileIsAppendedAndClosedFileGetsNothing) {
  test::TempDir dir;
  dir.write("old.log", "before\r\n");
  LogThread log;
  log.write("dropped while closed");
  ASSERT_EQ(log.open(dir.path() / "old.log"), 0);
  log.write("after");
  log.close();
  log.write("dropped again");
  ASSERT_TRUE(log.flush());
  EXPECT_EQ(dir.read("old.log"), "before\r\nafter");
}

TEST(LogThread, ReopeningElsewhereKeepsTheOldFile) {
  test::TempDir dir;
  LogThread log;
  ASSERT_EQ(log.open(dir.path() / "a.log"), 0);
  log.write("one");
  ASSERT_EQ(log.open(dir.path() / "b.log"), 0);
  log.write("two");
  ASSERT_TRUE(log.flush());
  EXPECT_EQ(dir.read("a.log"), "one");
  EXPECT_EQ(dir.read("b.log"), "two");
}

TEST(LogThread, OpenFailureReturnsErrno) {
  test::TempDir dir;
  LogThread log;
  EXPECT_EQ(log.open(dir.path() / "missing" / "x.log"), ENOENT);
  EXPECT_FALSE(log.isOpen());
}

TEST(LogTime, FormatsLocalTimeWithTheFixedPattern) {
  std::string text = FormatLocalTime(0);
  ASSERT_EQ(text.size(), 19u);
  EXPECT_EQ(text[4], '-');
  EXPECT_EQ(text[7], '-');
  EXPECT_EQ(text[13], ':');
}

}  // namespace
}  // namespace talvek::log
