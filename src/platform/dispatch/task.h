#pragma once
// An asynchronous outcome: pending, then completed with a value or failed with
// an error. Continuations run on the thread that completes the task (or at
// once when it is already finished); wait() blocks with an optional limit.

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "core/result.h"
#include "platform/dispatch/executor.h"

namespace corvenza::dispatch {

template <typename T>
class Task {
 public:
  using Outcome = detail::Result<T>;
  using Continuation = std::function<void(const Outcome&)>;

  /// A pending task and the function that finishes it (first call wins).
  struct Source {
    Task task;
    std::function<void(Outcome)> finish;
  };

  static Source pending() {
    auto state = std::make_shared<State>();
    return Source{Task(state), [state](Outcome outcome) { state->finish(std::move(outcome)); }};
  }
  static Task completed(T value) {
    auto source = pending();
    source.finish(Outcome(std::move(value)));
    return source.task;
  }
  static Task failed(Error error) {
    auto source = pending();
    source.finish(Outcome(std::move(error)));
    return source.task;
  }
  /// Runs @p body on @p executor and finishes with what it returns.
  static Task run(Executor& executor, std::function<Outcome()> body) {
    auto source = pending();
    executor.execute([finish = source.finish, body = std::move(body)] { finish(body()); });
    return source.task;
  }

  bool isCompleted() const {
    std::lock_guard lock(state_->mutex);
    return state_->outcome.has_value();
  }
  /// The outcome once finished.
  std::optional<Outcome> outcome() const {
    std::lock_guard lock(state_->mutex);
    return state_->outcome;
  }
  /// Registers @p next; runs it now if the task is already finished.
  void continueWith(Continuation next) const {
    std::unique_lock lock(state_->mutex);
    if (!state_->outcome) {
      state_->continuations.push_back(std::move(next));
      return;
    }
    Outcome copy = *state_->outcome;
    lock.unlock();
    next(copy);
  }
  /// Blocks until finished, or until @p limit has passed (then returns nothing).
  template <typename Rep = long, typename Period = std::ratio<1>>
  std::optional<Outcome> wait(
      std::optional<std::chrono::duration<Rep, Period>> limit = std::nullopt) const {
    std::unique_lock lock(state_->mutex);
    auto finished = [this] { return state_->outcome.has_value(); };
    if (limit) {
      if (!state_->done.wait_for(lock, *limit, finished)) return std::nullopt;
    } else {
      state_->done.wait(lock, finished);
    }
    return state_->outcome;
  }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable done;
    std::optional<Outcome> outcome;
    std::vector<Continuation> continuations;

    void finish(Outcome result) {
      std::vector<Continuation> toRun;
      {
        std::lock_guard lock(mutex);
        if (outcome) return;
        outcome = std::move(result);
        toRun.swap(continuations);
      }
      done.notify_all();
      for (auto& next : toRun) next(*outcome);
    }
  };

  explicit Task(std::shared_ptr<State> state) : state_(std::move(state)) {}
  std::shared_ptr<State> state_;
};

}  // namespace corvenza::dispatch
