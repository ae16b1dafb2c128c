#pragma once
/// @file
/// The main queue: a serial queue with cancellable delayed work items.
///
/// Every GraphQL result handler, every time-out and every application callback
/// of the library runs on the main queue. By default the library runs it on a
/// thread of its own; an application (or a tool, or a test) may drive it from
/// its own thread, or have it post onto the application's own event loop.

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>

namespace corvenza {

/// Monotonic time, replaceable so that tests fire long delays instantly.
class Clock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  virtual ~Clock() = default;
  virtual TimePoint now() const = 0;
  /// The real monotonic clock.
  static std::shared_ptr<Clock> system();
};

/// A block of work that can be cancelled before it runs. Thread-safe.
class DispatchWorkItem {
 public:
  explicit DispatchWorkItem(std::function<void()> block);
  DispatchWorkItem(const DispatchWorkItem&) = delete;
  DispatchWorkItem& operator=(const DispatchWorkItem&) = delete;

  /// Runs the block unless the item was cancelled. Runs it at most once.
  void perform();
  /// Keeps the block from running if it has not started yet.
  void cancel();
  bool isCancelled() const;

 private:
  friend class MainQueue;
  struct State;
  std::shared_ptr<State> state_;
};

/// A serial queue. Tasks run one at a time, in the order they became due.
///
/// All operations are thread-safe. A task must not throw: an exception that
/// escapes a task is caught and dropped so that the queue keeps running.
class MainQueue {
 public:
  using Task = std::function<void()>;
  using Duration = std::chrono::steady_clock::duration;
  /// Receives a task to run on the application's own loop, in order.
  using Poster = std::function<void(Task)>;

  /// A queue served by a thread that the queue owns and joins on stop().
  static std::shared_ptr<MainQueue> startOnOwnThread(std::shared_ptr<Clock> clock = nullptr);
  /// A queue that runs only when its owner calls runPending() or runFor().
  static std::shared_ptr<MainQueue> callerDriven(std::shared_ptr<Clock> clock = nullptr);
  /// A queue that hands every due task to @p post (for example an
  /// application's UI loop). Delays are timed by a thread the queue owns.
  static std::shared_ptr<MainQueue> adapter(Poster post, std::shared_ptr<Clock> clock = nullptr);

  ~MainQueue();
  MainQueue(const MainQueue&) = delete;
  MainQueue& operator=(const MainQueue&) = delete;

  /// Queues @p task to run as soon as the tasks before it have run.
  void async(Task task);
  /// Queues @p item to run @p delay from now unless it is cancelled first.
  void asyncAfter(Duration delay, std::shared_ptr<DispatchWorkItem> item);
  /// Queues @p task to run @p delay from now.
  void asyncAfter(Duration delay, Task task);

  /// True while the calling thread is running a task of this queue (or is the
  /// queue's own thread).
  bool isCurrent() const;

  /// Caller-driven queues: runs every task that is due now, including those
  /// that become due while running; returns how many ran.
  std::size_t runPending();
  /// Caller-driven queues: runs due tasks and waits for more until @p limit
  /// has passed or @p done returns true; returns whether @p done became true.
  bool runUntil(const std::function<bool()>& done, Duration limit);
  /// Caller-driven queues: runs due tasks and waits for more for @p limit.
  void runFor(Duration limit);

  /// Number of tasks waiting, due or not.
  std::size_t pendingCount() const;
  /// Wakes a waiting runner so it re-reads the clock (used with a fake clock).
  void wake();
  /// Stops the queue: joins its threads and drops every pending task.
  /// Later tasks are dropped. Safe to call twice.
  void stop();

 private:
  struct Impl;
  explicit MainQueue(std::shared_ptr<Impl> impl);
  std::shared_ptr<Impl> impl_;
};

}  // namespace corvenza
