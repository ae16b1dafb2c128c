#include "platform/dispatch/executor.h"

namespace corvenza::dispatch {

ThreadPoolExecutor::ThreadPoolExecutor(std::size_t threads) {
  if (threads == 0) threads = 1;
  threads_.reserve(threads);
  for (std::size_t i = 0; i < threads; ++i) {
    threads_.emplace_back([this] {
      std::unique_lock lock(mutex_);
      for (;;) {
        wakeup_.wait(lock, [this] { return stopping_ || !work_.empty(); });
        if (work_.empty()) return;  // stopping and drained
        auto work = std::move(work_.front());
        work_.pop_front();
        lock.unlock();
        try {
          work();
        } catch (...) {
          // Work items report through their own channels; never kill the pool.
        }
        work = nullptr;
        lock.lock();
      }
    });
  }
}

ThreadPoolExecutor::~ThreadPoolExecutor() { shutdown(); }

void ThreadPoolExecutor::execute(std::function<void()> work) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    work_.push_back(std::move(work));
  }
  wakeup_.notify_one();
}

void ThreadPoolExecutor::shutdown() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wakeup_.notify_all();
  for (auto& thread : threads_) {
    if (thread.joinable() && thread.get_id() != std::this_thread::get_id()) thread.join();
  }
}

namespace {

std::mutex& defaultMutex() {
  static std::mutex mutex;
  return mutex;
}

// Deliberately immortal, like the facade that uses it: threads blocked in a
// bounded wait must not be torn down under static destruction.
std::shared_ptr<ThreadPoolExecutor>& defaultInstance() {
  static auto* executor = new std::shared_ptr<ThreadPoolExecutor>();
  return *executor;
}

}  // namespace

std::shared_ptr<Executor> defaultExecutor() {
  std::lock_guard lock(defaultMutex());
  auto& executor = defaultInstance();
  if (!executor) executor = std::make_shared<ThreadPoolExecutor>(4);
  return executor;
}

void shutdownDefaultExecutor() {
  std::shared_ptr<ThreadPoolExecutor> executor;
  {
    std::lock_guard lock(defaultMutex());
    executor = std::move(defaultInstance());
    defaultInstance().reset();
  }
  if (executor) executor->shutdown();
}

}  // namespace corvenza::dispatch
