#include "requests/operation_guard.h"

#include <corvenza/enterprise.h>

#include <utility>

namespace corvenza::requests {

std::shared_ptr<OperationGuard> OperationGuard::arm(std::chrono::duration<double> limit,
                                                    std::function<void()> onTimeout) {
  auto guard = std::make_shared<OperationGuard>();
  // Held by the queue until it is due, so the caller is answered even if the
  // operation's handler is lost; settle() cuts the loop.
  guard->timeout_ =
      std::make_shared<DispatchWorkItem>([self = guard, onTimeout = std::move(onTimeout)] {
        std::shared_ptr<http::Cancellable> operation;
        {
          std::lock_guard lock(self->mutex_);
          if (self->settled_) return;
          self->settled_ = true;
          operation = std::exchange(self->operation_, nullptr);
          self->timeout_.reset();
        }
        if (operation) operation->cancel();
        onTimeout();
      });
  CorvenzaEnterprise::mainQueue()->asyncAfter(
      std::chrono::duration_cast<MainQueue::Duration>(limit), guard->timeout_);
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
    timeout = std::exchange(timeout_, nullptr);
  }
  if (timeout) timeout->cancel();
  return true;
}

}  // namespace corvenza::requests
