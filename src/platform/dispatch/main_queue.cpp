#include <corvenza/main_queue.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace corvenza {

namespace {

class SystemClock final : public Clock {
 public:
  TimePoint now() const override { return std::chrono::steady_clock::now(); }
};

thread_local const MainQueue* tCurrentQueue = nullptr;

// Marks the running thread as inside @p queue for the duration of a task.
class CurrentQueueScope {
 public:
  explicit CurrentQueueScope(const MainQueue* queue) : previous_(tCurrentQueue) {
    tCurrentQueue = queue;
  }
  ~CurrentQueueScope() { tCurrentQueue = previous_; }
  CurrentQueueScope(const CurrentQueueScope&) = delete;
  CurrentQueueScope& operator=(const CurrentQueueScope&) = delete;

 private:
  const MainQueue* previous_;
};

void runGuarded(const MainQueue::Task& task) {
  try {
    if (task) task();
  } catch (...) {
    // A throwing task must not take the queue down; there is no one to report to.
  }
}

}  // namespace

std::shared_ptr<Clock> Clock::system() {
  static const std::shared_ptr<Clock> clock = std::make_shared<SystemClock>();
  return clock;
}

// --- DispatchWorkItem -------------------------------------------------------

struct DispatchWorkItem::State {
  std::mutex mutex;
  std::function<void()> block;
  bool cancelled = false;
  bool performed = false;
  // Takes the item out of the queues it waits in.
  std::vector<std::function<void()>> unschedule;
};

DispatchWorkItem::DispatchWorkItem(std::function<void()> block)
    : state_(std::make_shared<State>()) {
  state_->block = std::move(block);
}

void DispatchWorkItem::perform() {
  std::function<void()> block;
  {
    std::lock_guard lock(state_->mutex);
    if (state_->cancelled || state_->performed) return;
    state_->performed = true;
    block = std::move(state_->block);
  }
  if (block) block();
}

void DispatchWorkItem::cancel() {
  std::function<void()> dropped;
  std::vector<std::function<void()>> unschedule;
  {
    std::lock_guard lock(state_->mutex);
    state_->cancelled = true;
    if (!state_->performed) dropped = std::move(state_->block);
    unschedule.swap(state_->unschedule);
  }
  // `dropped` releases what the block captured outside the lock.
  for (auto& leave : unschedule) leave();
}

bool DispatchWorkItem::isCancelled() const {
  std::lock_guard lock(state_->mutex);
  return state_->cancelled;
}

// --- MainQueue --------------------------------------------------------------

enum class QueueMode { ownThread, callerDriven, adapter };

struct MainQueue::Impl {
  QueueMode mode;
  std::shared_ptr<Clock> clock;
  Poster poster;

  mutable std::mutex mutex;
  std::condition_variable wakeup;
  // Ordered by due time, then by arrival, so equal deadlines keep their order.
  std::multimap<std::pair<Clock::TimePoint, std::uint64_t>, Task> tasks;
  std::uint64_t sequence = 0;
  bool stopped = false;
  std::thread worker;
  std::thread::id workerId;

  bool usesSystemClock() const { return clock == Clock::system(); }

  // Waits until the earliest task may be due, a wake-up, or @p realDeadline.
  void waitForWork(std::unique_lock<std::mutex>& lock,
                   std::optional<std::chrono::steady_clock::time_point> realDeadline) {
    auto limit = realDeadline.value_or(std::chrono::steady_clock::time_point::max());
    if (!tasks.empty()) {
      auto delta = tasks.begin()->first.first - clock->now();
      // A fake clock only moves when the test says so; poll it gently.
      if (!usesSystemClock()) delta = std::min<Duration>(delta, std::chrono::milliseconds(5));
      auto due = std::chrono::steady_clock::now() + delta;
      if (due < limit) limit = due;
    }
    if (limit == std::chrono::steady_clock::time_point::max()) {
      wakeup.wait(lock);
    } else {
      wakeup.wait_until(lock, limit);
    }
  }

  bool hasDue() const { return !tasks.empty() && tasks.begin()->first.first <= clock->now(); }

  // Takes the first task if it is due.
  std::optional<Task> takeDue() {
    if (!hasDue()) return std::nullopt;
    auto node = tasks.extract(tasks.begin());
    return std::move(node.mapped());
  }
};

MainQueue::MainQueue(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}

MainQueue::~MainQueue() { stop(); }

std::shared_ptr<MainQueue> MainQueue::startOnOwnThread(std::shared_ptr<Clock> clock) {
  auto impl = std::make_shared<Impl>();
  impl->mode = QueueMode::ownThread;
  impl->clock = clock ? std::move(clock) : Clock::system();
  std::shared_ptr<MainQueue> queue(new MainQueue(std::move(impl)));
  std::shared_ptr<Impl> state = queue->impl_;
  const MainQueue* self = queue.get();
  std::unique_lock lock(state->mutex);
  state->worker = std::thread([state, self] {
    CurrentQueueScope scope(self);
    std::unique_lock lock(state->mutex);
    while (!state->stopped) {
      if (auto task = state->takeDue()) {
        lock.unlock();
        runGuarded(*task);
        task.reset();
        lock.lock();
        continue;
      }
      state->waitForWork(lock, std::nullopt);
    }
  });
  state->workerId = state->worker.get_id();
  return queue;
}

std::shared_ptr<MainQueue> MainQueue::callerDriven(std::shared_ptr<Clock> clock) {
  auto impl = std::make_shared<Impl>();
  impl->mode = QueueMode::callerDriven;
  impl->clock = clock ? std::move(clock) : Clock::system();
  return std::shared_ptr<MainQueue>(new MainQueue(std::move(impl)));
}

std::shared_ptr<MainQueue> MainQueue::adapter(Poster post, std::shared_ptr<Clock> clock) {
  auto impl = std::make_shared<Impl>();
  impl->mode = QueueMode::adapter;
  impl->clock = clock ? std::move(clock) : Clock::system();
  impl->poster = std::move(post);
  std::shared_ptr<MainQueue> queue(new MainQueue(std::move(impl)));
  std::shared_ptr<Impl> state = queue->impl_;
  const MainQueue* self = queue.get();
  // The timer thread only hands due tasks to the application's loop.
  state->worker = std::thread([state, self] {
    std::unique_lock lock(state->mutex);
    while (!state->stopped) {
      if (auto task = state->takeDue()) {
        lock.unlock();
        state->poster([self, task = std::move(*task)] {
          CurrentQueueScope scope(self);
          runGuarded(task);
        });
        lock.lock();
        continue;
      }
      state->waitForWork(lock, std::nullopt);
    }
  });
  return queue;
}

void MainQueue::async(Task task) {
  if (impl_->mode == QueueMode::adapter) {
    {
      std::lock_guard lock(impl_->mutex);
      if (impl_->stopped) return;
    }
    impl_->poster([this, task = std::move(task)] {
      CurrentQueueScope scope(this);
      runGuarded(task);
    });
    return;
  }
  asyncAfter(Duration::zero(), std::move(task));
}

void MainQueue::asyncAfter(Duration delay, std::shared_ptr<DispatchWorkItem> item) {
  if (!item) return;
  std::pair<Clock::TimePoint, std::uint64_t> key;
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->stopped) return;
    key = {impl_->clock->now() + std::max(delay, Duration::zero()), impl_->sequence++};
    impl_->tasks.emplace(key, [item] { item->perform(); });
  }
  impl_->wakeup.notify_all();
  // A cancelled item leaves the queue at once rather than when it falls due:
  // every operation cancels a time-out of 45 s, hundreds a second under load.
  auto leave = [weak = std::weak_ptr<Impl>(impl_), key] {
    auto impl = weak.lock();
    if (!impl) return;
    std::multimap<std::pair<Clock::TimePoint, std::uint64_t>, Task>::node_type node;
    {
      std::lock_guard lock(impl->mutex);
      if (auto it = impl->tasks.find(key); it != impl->tasks.end()) node = impl->tasks.extract(it);
    }
    // `node` holds the item; it goes outside the lock.
  };
  {
    std::lock_guard lock(item->state_->mutex);
    if (!item->state_->cancelled) {
      item->state_->unschedule.push_back(std::move(leave));
      return;
    }
  }
  leave();
}

void MainQueue::asyncAfter(Duration delay, Task task) {
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->stopped) return;
    auto due = impl_->clock->now() + std::max(delay, Duration::zero());
    impl_->tasks.emplace(std::make_pair(due, impl_->sequence++), std::move(task));
  }
  impl_->wakeup.notify_all();
}

bool MainQueue::isCurrent() const { return tCurrentQueue == this; }

std::size_t MainQueue::runPending() {
  CurrentQueueScope scope(this);
  std::size_t count = 0;
  for (;;) {
    std::optional<Task> task;
    {
      std::lock_guard lock(impl_->mutex);
      if (impl_->stopped) break;
      task = impl_->takeDue();
    }
    if (!task) break;
    runGuarded(*task);
    ++count;
  }
  return count;
}

bool MainQueue::runUntil(const std::function<bool()>& done, Duration limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    runPending();
    if (done && done()) return true;
    std::unique_lock lock(impl_->mutex);
    if (impl_->stopped || std::chrono::steady_clock::now() >= deadline) break;
    if (impl_->hasDue()) continue;
    impl_->waitForWork(lock, deadline);
  }
  return done && done();
}

void MainQueue::runFor(Duration limit) { runUntil(nullptr, limit); }

std::size_t MainQueue::pendingCount() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->tasks.size();
}

void MainQueue::wake() { impl_->wakeup.notify_all(); }

void MainQueue::stop() {
  std::multimap<std::pair<Clock::TimePoint, std::uint64_t>, Task> dropped;
  {
    std::lock_guard lock(impl_->mutex);
    impl_->stopped = true;
    dropped.swap(impl_->tasks);
  }
  impl_->wakeup.notify_all();
  if (impl_->worker.joinable()) {
    if (impl_->worker.get_id() == std::this_thread::get_id()) {
      // Released from one of its own tasks: the thread cannot join itself. It
      // holds the shared state and ends as soon as this task returns.
      impl_->worker.detach();
    } else {
      impl_->worker.join();
    }
  }
}

}  // namespace corvenza
