#include "sweep/WorkerPool.h"

#include <system_error>

namespace zelmora::sweep {

WorkerPool::WorkerPool(std::size_t threads, std::size_t tasks, std::function<void(std::size_t)> task,
                       std::function<void()> threadEnded, const Starter& start)
    : task_(std::move(task)), threadEnded_(std::move(threadEnded)), tasks_(tasks) {
  for (std::size_t k = 0; k < threads; ++k) {
    try {
      threads_.push_back(start ? start([this] { Work(); }) : std::thread([this] { Work(); }));
    } catch (const std::system_error& e) {
      refused_ = e.code().message();
      break;
    }
  }
  if (threads_.empty() && threads > 0) throw ThreadsRefused(refused_);
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

}  // namespace zelmora::sweep
