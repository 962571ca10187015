#include "transfer/statistics.h"

#include <algorithm>
#include <cstdio>

#include "session/session_host.h"

namespace talvek::transfer {

namespace {
constexpr double kPerMebibyte = 1.0 / 1048576.0;

std::string Format(const char* format, double a, double b) {
  char text[128];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

std::string CacheLines(const char* name, const char* counters, uint64_t used, uint32_t hits, uint32_t misses) {
  char text[160];
  std::snprintf(text, sizeof text, "%s Cache usage:\t%.2f (MB)\r\n%s cache hits:\t%d\r\n%s cache misses\t%d\r\n", name,
                static_cast<double>(used) * kPerMebibyte, counters, static_cast<int>(hits), counters,
                static_cast<int>(misses));
  return text;
}
}  // namespace

std::string StatisticsText(const StatisticsFigures& f) {
  std::string text = Format("MB transmitted:\t%.2f\r\nMB received:\t%.2f\r\n",
                            static_cast<double>(f.bytes_sent) * kPerMebibyte,
                            static_cast<double>(f.bytes_received) * kPerMebibyte);
  text += "Max Bytes\\sec:\t" + std::to_string(static_cast<int>(f.max_rate)) + "\r\n";
  text += CacheLines("File", "File", f.file_cache_used, f.file_cache_hits, f.file_cache_misses);
  text += CacheLines("Dir", "Dir", f.dir_cache_used, f.dir_cache_hits, f.dir_cache_misses) + "\r\n";
  return text;
}

StatisticsFigures CurrentFigures(session::SessionHost& server, uint32_t max_rate) {
  StatisticsFigures figures;
  figures.bytes_sent = server.bytes_sent.load();
  figures.bytes_received = server.bytes_received.load();
  figures.max_rate = max_rate;
  figures.file_cache_used = server.fileCache().used();
  figures.file_cache_hits = server.fileCache().hits();
  figures.file_cache_misses = server.fileCache().misses();
  figures.dir_cache_used = server.directoryCache().used();
  figures.dir_cache_hits = server.directoryCache().hits();
  figures.dir_cache_misses = server.directoryCache().misses();
  return figures;
}

void RateSampler::reset(uint64_t bytes_sent) {
  samples_.fill(0);
  previous_ = bytes_sent;
}

uint32_t RateSampler::sample(uint64_t bytes_sent) {
  std::copy_backward(samples_.begin(), samples_.end() - 1, samples_.end());
  samples_[0] = static_cast<uint32_t>(bytes_sent) - static_cast<uint32_t>(previous_);
  previous_ = bytes_sent;
  max_rate_ = std::max(max_rate_, samples_[0]);
  return samples_[0];
}

}  // namespace talvek::transfer
