// The workers that run transfer bodies: a bounded pool of threads started
// as work arrives (never more than there is work for, never more than the
// bound), taking tasks first come, first served. A worker that finds the
// queue empty waits for the next task rather than ending, so a session that
// fetches file after file reuses the same thread. Owned by the server; stop()
// (also the destructor) aborts what runs, drops what waits and joins every
// worker, so no transfer outlives its owner.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

namespace talvek::transfer {

class TransferEngine {
 public:
  static constexpr size_t kMaxWorkers = 64;

  // `workers` bounds the pool (0: kMaxWorkers; at most kMaxWorkers).
  explicit TransferEngine(size_t workers = 0);
  ~TransferEngine();
  TransferEngine(const TransferEngine&) = delete;
  TransferEngine& operator=(const TransferEngine&) = delete;

  // What a task does; it returns what announces its end (may be empty),
  // which the worker runs once it counts itself free again, so that work
  // the announcement brings about finds this worker rather than starting
  // another.
  using Work = std::function<std::function<void()>()>;

  // Queues `work`; `abort` (may be empty) is called, from the stopping
  // thread, if the engine stops while `work` runs. False once stopped: the
  // work is dropped. Any thread.
  bool submit(Work work, std::function<void()> abort = {});
  // Aborts running work, drops queued work and joins the workers; idempotent.
  void stop();

  // Sets the bound (0: kMaxWorkers); workers already started stay.
  void limit(size_t workers);
  size_t bound() const;
  // Threads started so far (for tests of the bound).
  size_t workers() const;

 private:
  struct Task {
    Work work;
    std::function<void()> abort;
  };
  void workerLoop();

  size_t bound_;
  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Task> queue_;
  // Abort hooks of the running tasks, so stop() can end them.
  std::list<std::function<void()>> running_;
  std::vector<std::thread> threads_;
  size_t idle_ = 0;
  bool stopping_ = false;
};

}  // namespace talvek::transfer
