// The log file and the thread that writes it. Producers on any thread hand
// over finished texts; the log thread appends them, in the order handed
// over, unchanged, and flushes after each, so no producer waits for the disk.
#pragma once

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace talvek::log {

class LogThread {
 public:
  LogThread();
  ~LogThread();  // writes what is queued, then stops the thread
  LogThread(const LogThread&) = delete;
  LogThread& operator=(const LogThread&) = delete;

  // Opens `path` for appending (created when missing), closing any open
  // file first. Returns 0 or the errno of the failed open.
  int open(const std::filesystem::path& path);
  // Closes the file; texts still queued for it are written first.
  void close();
  bool isOpen() const;

  // Queues a text for the file; dropped when no file is open, or when more
  // than kQueueLimit bytes wait (a flood outrunning the disk), which the file
  // is told once the queue has drained.
  static constexpr size_t kQueueLimit = 16 * 1024 * 1024;
  void write(std::string text);
  // Blocks until every text queued so far has been written (bounded).
  bool flush(std::chrono::milliseconds limit = std::chrono::seconds(5));

 private:
  void run();

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable drained_;
  std::deque<std::string> queue_;
  size_t queued_bytes_ = 0;
  uint64_t dropped_ = 0;
  std::FILE* file_ = nullptr;
  bool writing_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

// Local time as "%Y-%m-%d %H:%M:%S", the stamp of log and monitor lines.
std::string FormatLocalTime(std::time_t time);
std::string NowText();

// Client text made safe for a log or monitor line: bytes below 0x20 and 0x7f
// become visible escapes ("\x1b"), so nothing a client sends can start a
// line or drive a terminal. With `keep_line_ends`, CR LF pairs stay (a
// multi-line reply; client text never holds a CR LF pair).
std::string EscapeControlBytes(std::string_view text, bool keep_line_ends = false);

}  // namespace talvek::log
