#include "requests/operation_guard.h"

#include <utility>

namespace corvenza::requests {

std::shared_ptr<OperationGuard> OperationGuard::arm(std::chrono::duration<double> limit,
                                                    const std::shared_ptr<MainQueue>& queue,
                                                    std::function<void()> onTimeout) {
  auto guard = std::make_shared<OperationGuard>();
  guard->limit_ = limit;
  guard->queue_ = queue;
  guard->onTimeout_ = std::move(onTimeout);
  guard->schedule();
  return guard;
}

void OperationGuard::schedule() {
  auto queue = queue_.lock();
  if (!queue) return;
  // Held by the queue until it is due, so the caller is answered even if the
  // operation's handler is lost.
  auto timeout =
      std::make_shared<DispatchWorkItem>([self = shared_from_this()] { self->expire(); });
  std::shared_ptr<DispatchWorkItem> earlier;
  {
    std::lock_guard lock(mutex_);
    if (settled_) return;
    earlier = std::exchange(timeout_, timeout).lock();
  }
  if (earlier) earlier->cancel();
  queue->asyncAfter(std::chrono::duration_cast<MainQueue::Duration>(limit_), std::move(timeout));
}

void OperationGuard::expire() {
  std::shared_ptr<http::Cancellable> operation;
  std::function<void()> onTimeout;
  {
    std::lock_guard lock(mutex_);
    if (settled_) return;
    settled_ = true;
    operation = std::exchange(operation_, nullptr);
    onTimeout = std::move(onTimeout_);
  }
  if (operation) operation->cancel();
  if (onTimeout) onTimeout();
}

void OperationGuard::progressed() { schedule(); }

void OperationGuard::attach(std::shared_ptr<http::Cancellable> operation) {
  std::lock_guard lock(mutex_);
  if (!settled_) operation_ = std::move(operation);
}

bool OperationGuard::settle() {
  std::shared_ptr<DispatchWorkItem> timeout;
  {
    std::lock_guard lock(mutex_);
    if (settled_) return false;
    settled_ = true;
    operation_.reset();
    onTimeout_ = nullptr;
    timeout = timeout_.lock();
  }
  if (timeout) timeout->cancel();
  return true;
}

}  // namespace corvenza::requests
