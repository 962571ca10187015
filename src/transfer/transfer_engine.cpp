#include "transfer/transfer_engine.h"

#include <algorithm>

namespace talvek::transfer {

namespace {
size_t Bound(size_t workers) { return workers == 0 ? TransferEngine::kMaxWorkers : std::min(workers, TransferEngine::kMaxWorkers); }
}  // namespace

TransferEngine::TransferEngine(size_t workers) : bound_(Bound(workers)) {}

void TransferEngine::limit(size_t workers) {
  std::lock_guard lock(mutex_);
  bound_ = Bound(workers);
}

size_t TransferEngine::bound() const {
  std::lock_guard lock(mutex_);
  return bound_;
}

TransferEngine::~TransferEngine() { stop(); }

bool TransferEngine::submit(Work work, std::function<void()> abort) {
  std::unique_lock lock(mutex_);
  if (stopping_) return false;
  queue_.push_back({std::move(work), std::move(abort)});
  // A new worker only when none waits for this task and the bound allows one.
  if (idle_ >= queue_.size() || threads_.size() >= bound_) {
    lock.unlock();
    ready_.notify_one();
    return true;
  }
  threads_.emplace_back([this] { workerLoop(); });
  return true;
}

void TransferEngine::workerLoop() {
  std::unique_lock lock(mutex_);
  ++idle_;
  for (;;) {
    ready_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    --idle_;
    Task task = std::move(queue_.front());
    queue_.pop_front();
    auto hook = running_.insert(running_.end(), std::move(task.abort));
    lock.unlock();
    std::function<void()> announce = task.work();
    // What the task captured goes before its end is announced.
    task.work = nullptr;
    lock.lock();
    running_.erase(hook);
    ++idle_;
    if (announce) {
      lock.unlock();
      announce();
      announce = nullptr;
      lock.lock();
    }
  }
}

void TransferEngine::stop() {
  std::deque<Task> dropped;
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    if (stopping_ && threads_.empty()) return;
    stopping_ = true;
    dropped.swap(queue_);
    // Running tasks see their abort and end within one poll interval.
    for (auto& abort : running_)
      if (abort) abort();
    threads.swap(threads_);
  }
  ready_.notify_all();
  for (auto& thread : threads) thread.join();
}

size_t TransferEngine::workers() const {
  std::lock_guard lock(mutex_);
  return threads_.size();
}

}  // namespace talvek::transfer
