// One answer per operation: the service's, or a time-out on the main queue's
// clock that cancels what is in flight. Reads and changes use it so that a
// service that stalls is reported as such, like each step of a creation.
#pragma once

#include <corvenza/main_queue.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/http/http_transport.h"

namespace corvenza::requests {

class OperationGuard : public std::enable_shared_from_this<OperationGuard> {
 public:
  /// Arms the time-out: after @p limit on @p queue, unless settle() came first, the
  /// operation attached is cancelled and @p onTimeout runs on the main queue.
  static std::shared_ptr<OperationGuard> arm(std::chrono::duration<double> limit,
                                             const std::shared_ptr<MainQueue>& queue,
                                             std::function<void()> onTimeout);

  /// The operation the time-out cancels.
  void attach(std::shared_ptr<http::Cancellable> operation);
  /// True exactly once, for whoever answers first; the time-out is then off.
  bool settle();
  /// Bytes moved: the limit counts again from now, so that only silence
  /// times an operation out. Any thread.
  void progressed();

 private:
  void schedule();
  void expire();

  mutable std::mutex mutex_;
  std::chrono::duration<double> limit_{0};
  std::weak_ptr<MainQueue> queue_;
  std::function<void()> onTimeout_;
  bool settled_ = false;
  std::shared_ptr<http::Cancellable> operation_;
  // Weak: the queue owns the time-out until it is due, and the time-out owns
  // this guard; a queue dropped with the item still pending frees both.
  std::weak_ptr<DispatchWorkItem> timeout_;
};

}  // namespace corvenza::requests
