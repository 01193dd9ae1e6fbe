#include "sweep/WorkerPool.h"

namespace zelmora::batch {

WorkerPool::WorkerPool(std::size_t threads, std::size_t tasks, std::function<void(std::size_t)> task,
                       std::function<void()> threadEnded)
    : task_(std::move(task)), threadEnded_(std::move(threadEnded)), tasks_(tasks) {
  try {
    for (std::size_t k = 0; k < threads; ++k) threads_.emplace_back([this] { Work(); });
  } catch (...) {
    // A thread the system refused: the ones started end here, before the members they use.
    Join();
    throw;
  }
}

WorkerPool::~WorkerPool() { Join(); }

void WorkerPool::Join() {
  Stop();
  for (std::thread& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
}

void WorkerPool::Work() {
  while (!stop_.load()) {
    const std::size_t k = next_.fetch_add(1);
    if (k >= tasks_) break;
    task_(k);
  }
  if (threadEnded_) threadEnded_();
}

}  // namespace zelmora::batch
