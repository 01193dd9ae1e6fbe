#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <thread>
#include <vector>

namespace zelmora::batch {

// Threads that take tasks 0, 1, 2, ... in turn, each task once. The pool owns its threads: its
// destructor stops handing out tasks and joins them, so a pool declared after the data its tasks
// read never leaves a thread reading it after it is gone, on an error's way out too.
class WorkerPool {
 public:
  // task(k) runs on one of the threads; it must not throw (a task reports its own failure).
  // threadEnded() runs on each thread as it ends. Throws std::system_error if no thread starts.
  WorkerPool(std::size_t threads, std::size_t tasks, std::function<void(std::size_t)> task,
             std::function<void()> threadEnded = {});
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // No task is handed out after this; running tasks may watch Stopping() to end early.
  void Stop() { stop_.store(true); }
  const std::atomic<bool>& Stopping() const { return stop_; }
  std::size_t Threads() const { return threads_.size(); }
  // Stops and waits for every thread.
  void Join();

 private:
  void Work();

  std::function<void(std::size_t)> task_;
  std::function<void()> threadEnded_;
  std::size_t tasks_;
  std::atomic<std::size_t> next_{0};
  std::atomic<bool> stop_{false};
  std::vector<std::thread> threads_;
};

}  // namespace zelmora::batch
