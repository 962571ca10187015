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

  // Queues a text for the file; dropped when no file is open.
  void write(std::string text);
  // Blocks until every text queued so far has been written (bounded).
  bool flush(std::chrono::milliseconds limit = std::chrono::seconds(5));

 private:
  void run();

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable drained_;
  std::deque<std::string> queue_;
  std::FILE* file_ = nullptr;
  bool writing_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

// Local time as "%Y-%m-%d %H:%M:%S", the stamp of log and monitor lines.
std::string FormatLocalTime(std::time_t time);
std::string NowText();

}  // namespace talvek::log
