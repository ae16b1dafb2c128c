#include "requests/operation_guard.h"

#include <utility>

namespace corvenza::requests {

std::shared_ptr<OperationGuard> OperationGuard::arm(std::chrono::duration<double> limit,
                                                    const std::shared_ptr<MainQueue>& queue,
                                                    std::function<void()> onTimeout) {
  auto guard = std::make_shared<OperationGuard>();
  // Held by the queue until it is due, so the caller is answered even if the
  // operation's handler is lost.
  auto timeout =
      std::make_shared<DispatchWorkItem>([self = guard, onTimeout = std::move(onTimeout)] {
        std::shared_ptr<http::Cancellable> operation;
        {
          std::lock_guard lock(self->mutex_);
          if (self->settled_) return;
          self->settled_ = true;
          operation = std::exchange(self->operation_, nullptr);
        }
        if (operation) operation->cancel();
        onTimeout();
      });
  guard->timeout_ = timeout;
  queue->asyncAfter(std::chrono::duration_cast<MainQueue::Duration>(limit), std::move(timeout));
  return guard;
}

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
    timeout = timeout_.lock();
  }
  if (timeout) timeout->cancel();
  return true;
}

}  // namespace corvenza::requests
