// The server statistics text (bytes moved, the largest sampled rate, both
// caches' usage and counters) and the once-a-second sampler of the
// outgoing data rate that feeds it and the graph.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace talvek::session {
class SessionHost;
}

namespace talvek::transfer {

struct StatisticsFigures {
  uint64_t bytes_sent = 0;
  uint64_t bytes_received = 0;
  uint32_t max_rate = 1;
  uint64_t file_cache_used = 0;
  uint32_t file_cache_hits = 0;
  uint32_t file_cache_misses = 0;
  uint64_t dir_cache_used = 0;
  uint32_t dir_cache_hits = 0;
  uint32_t dir_cache_misses = 0;
};

std::string StatisticsText(const StatisticsFigures& figures);

// The server's figures now, with `max_rate` from the sampler.
StatisticsFigures CurrentFigures(session::SessionHost& server, uint32_t max_rate);

// Keeps the last 181 per-second samples of bytes sent, newest first.
class RateSampler {
 public:
  static constexpr size_t kSamples = 181;

  // Starts over from `bytes_sent` (the bar was shown).
  void reset(uint64_t bytes_sent);
  // Takes one sample: the bytes sent since the previous one.
  uint32_t sample(uint64_t bytes_sent);
  uint32_t maxRate() const { return max_rate_; }
  const std::array<uint32_t, kSamples>& samples() const { return samples_; }

 private:
  std::array<uint32_t, kSamples> samples_{};
  uint64_t previous_ = 0;
  uint32_t max_rate_ = 1;
};

}  // namespace talvek::transfer
