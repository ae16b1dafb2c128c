#pragma once
// Executors run work off the caller's thread. The default executor is a small
// pool whose threads the library owns and joins at shutdown.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace corvenza::dispatch {

class Executor {
 public:
  virtual ~Executor() = default;
  /// Runs @p work some time later on a thread of the executor. Never inline.
  virtual void execute(std::function<void()> work) = 0;
};

/// A fixed pool of threads; joined by shutdown() or the destructor.
class ThreadPoolExecutor final : public Executor {
 public:
  explicit ThreadPoolExecutor(std::size_t threads);
  ~ThreadPoolExecutor() override;
  ThreadPoolExecutor(const ThreadPoolExecutor&) = delete;
  ThreadPoolExecutor& operator=(const ThreadPoolExecutor&) = delete;

  void execute(std::function<void()> work) override;
  /// Runs what is queued, then joins every thread. Later work is dropped.
  void shutdown();

 private:
  std::mutex mutex_;
  std::condition_variable wakeup_;
  std::deque<std::function<void()>> work_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

/// The process-wide default executor (the identity bridge's background work).
/// Blocking waits run there, so it has several threads. Created on first use.
std::shared_ptr<Executor> defaultExecutor();
/// Runs what the default executor has queued and joins its threads; the next
/// defaultExecutor() makes a new one.
void shutdownDefaultExecutor();

}  // namespace corvenza::dispatch
