// Runs one trace route on a thread of its own, so that the window showing it
// stays responsive. The callbacks are called on that thread. Stopping (or
// destroying the runner) ends the trace soon and guarantees that no callback
// is called afterwards; a trace caught in a slow name lookup is left to end
// by itself rather than waited for.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "console/trace_route.h"

namespace talvek::console {

class TraceRunner {
 public:
  using Lines = std::function<void(std::string)>;
  using Finished = std::function<void()>;

  TraceRunner() = default;
  ~TraceRunner() { stop(); }
  TraceRunner(const TraceRunner&) = delete;
  TraceRunner& operator=(const TraceRunner&) = delete;

  // Starts tracing `request.destination` (its `append` is replaced by
  // `lines`); false when a trace is still running.
  bool start(TraceRequest request, Lines lines, Finished finished);
  bool running() const;
  void stop();

 private:
  struct Shared {
    std::mutex mutex;
    std::condition_variable ended;
    Lines lines;
    Finished finished;
    std::atomic<bool> stop{false};
    bool done = false;
  };

  std::shared_ptr<Shared> shared_;
  std::thread thread_;
};

}  // namespace talvek::console
