#include "console/trace_runner.h"

namespace talvek::console {

namespace {

// How long stopping waits for the thread before leaving it to end alone:
// longer than one slice of the reply wait, shorter than a name lookup.
constexpr std::chrono::milliseconds kStopWait{250};

}  // namespace

bool TraceRunner::start(TraceRequest request, Lines lines, Finished finished) {
  if (running()) return false;
  if (thread_.joinable()) thread_.join();  // the previous trace has ended
  auto shared = std::make_shared<Shared>();
  shared->lines = std::move(lines);
  shared->finished = std::move(finished);
  request.append = [shared](std::string line) {
    std::lock_guard lock(shared->mutex);
    if (shared->lines) shared->lines(std::move(line));
  };
  shared_ = shared;
  thread_ = std::thread([shared, request = std::move(request)] {
    TraceRoute(request, shared->stop);
    std::lock_guard lock(shared->mutex);
    shared->done = true;
    if (shared->finished) shared->finished();
    shared->ended.notify_all();
  });
  return true;
}

bool TraceRunner::running() const {
  if (!shared_) return false;
  std::lock_guard lock(shared_->mutex);
  return !shared_->done;
}

void TraceRunner::stop() {
  if (!shared_) return;
  shared_->stop = true;
  bool done;
  {
    std::unique_lock lock(shared_->mutex);
    shared_->lines = nullptr;
    shared_->finished = nullptr;
    done = shared_->ended.wait_for(lock, kStopWait, [this] { return shared_->done; });
  }
  if (thread_.joinable()) {
    // The thread keeps its own share of the state, so it may outlive us.
    if (done)
      thread_.join();
    else
      thread_.detach();
  }
  shared_.reset();
}

}  // namespace talvek::console
