#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace zelmora::sweep {

// The system refused every worker thread asked for (a limit on processes, memory): `reason` is its
// error. A sweep says so and suggests fewer threads.
class ThreadsRefused : public std::runtime_error {
 public:
  explicit ThreadsRefused(const std::string& reason)
      : std::runtime_error("no worker thread could be started (" + reason + ")"), reason(reason) {}
  std::string reason;
};

// Threads that take tasks 0, 1, 2, ... in turn, each task once. The pool owns its threads: its
// destructor stops handing out tasks and joins them, so a pool declared after the data its tasks
// read never leaves a thread reading it after it is gone, on an error's way out too.
class WorkerPool {
 public:
  // How a thread is started; tests give one that refuses.
  using Starter = std::function<std::thread(std::function<void()>)>;

  // task(k) runs on one of the threads; it must not throw (a task reports its own failure).
  // threadEnded() runs on each thread as it ends. Where the system refuses some threads the pool
  // goes on with those it has (Threads(), RefusedReason()); where it refuses all, it throws
  // ThreadsRefused.
  WorkerPool(std::size_t threads, std::size_t tasks, std::function<void(std::size_t)> task,
             std::function<void()> threadEnded = {}, const Starter& start = {});
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // No task is handed out after this; running tasks may watch Stopping() to end early.
  void Stop() { stop_.store(true); }
  const std::atomic<bool>& Stopping() const { return stop_; }
  std::size_t Threads() const { return threads_.size(); }
  // Why threads were refused; empty when every one asked for started.
  const std::string& RefusedReason() const { return refused_; }
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
  std::string refused_;
};

}  // namespace zelmora::sweep
