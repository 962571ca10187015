#include "log/log_thread.h"

#include <cerrno>
#include <ctime>
#include <utility>

namespace talvek::log {

LogThread::LogThread() : thread_([this] { run(); }) {}

LogThread::~LogThread() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
  if (file_) std::fclose(file_);
}

int LogThread::open(const std::filesystem::path& path) {
  flush();
  std::unique_lock lock(mutex_);
  drained_.wait(lock, [this] { return !writing_; });
  if (file_) {
    std::fclose(file_);
    file_ = nullptr;
  }
  std::FILE* file = std::fopen(path.c_str(), "ab");
  if (!file) return errno;
  file_ = file;
  return 0;
}

void LogThread::close() {
  flush();
  std::unique_lock lock(mutex_);
  drained_.wait(lock, [this] { return !writing_; });
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

bool LogThread::isOpen() const {
  std::lock_guard lock(mutex_);
  return file_ != nullptr;
}

void LogThread::write(std::string text) {
  {
    std::lock_guard lock(mutex_);
    if (!file_) return;
    if (queued_bytes_ + text.size() > kQueueLimit) {
      ++dropped_;
      return;
    }
    queued_bytes_ += text.size();
    queue_.push_back(std::move(text));
  }
  wake_.notify_one();
}

bool LogThread::flush(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return drained_.wait_for(lock, limit, [this] { return queue_.empty() && !writing_; });
}

void LogThread::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty() && stopping_) return;
    std::deque<std::string> batch;
    batch.swap(queue_);
    queued_bytes_ = 0;
    if (dropped_ > 0) batch.push_back(std::to_string(std::exchange(dropped_, 0)) + " log texts dropped\r\n\r\n");
    std::FILE* file = file_;
    writing_ = true;
    lock.unlock();
    // The file cannot be closed while writing_ is set, so it is safe to use
    // without the lock; a failed write is not reported to anyone.
    for (const auto& text : batch) {
      if (file) {
        std::fwrite(text.data(), 1, text.size(), file);
        std::fflush(file);
      }
    }
    lock.lock();
    writing_ = false;
    drained_.notify_all();
  }
}

std::string FormatLocalTime(std::time_t time) {
  std::tm local{};
  localtime_r(&time, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

std::string NowText() { return FormatLocalTime(std::time(nullptr)); }

std::string EscapeControlBytes(std::string_view text, bool keep_line_ends) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string escaped;
  escaped.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    auto byte = static_cast<unsigned char>(text[i]);
    if (keep_line_ends && byte == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      escaped += "\r\n";
      ++i;
    } else if (byte < 0x20 || byte == 0x7f) {
      escaped += {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
    } else {
      escaped += static_cast<char>(byte);
    }
  }
  return escaped;
}

}  // namespace talvek::log
