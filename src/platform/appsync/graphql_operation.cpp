#include "platform/appsync/graphql_operation.h"

#include <utility>

namespace corvenza::appsync {

GraphQLOperation::GraphQLOperation(std::shared_ptr<MainQueue> queue,
                                   std::shared_ptr<dispatch::Executor> executor,
                                   ResultHandler handler)
    : queue_(std::move(queue)), executor_(std::move(executor)), handler_(std::move(handler)) {}

void GraphQLOperation::cancel() {
  std::shared_ptr<http::Cancellable> step;
  ResultHandler handler;
  {
    std::lock_guard lock(mutex_);
    if (cancelled_) return;
    cancelled_ = true;
    step = std::move(step_);
    // Released here so nothing the handler captured outlives the cancel.
    handler = std::move(handler_);
  }
  if (step) step->cancel();
}

bool GraphQLOperation::isCancelled() const {
  std::lock_guard lock(mutex_);
  return cancelled_;
}

void GraphQLOperation::attach(std::shared_ptr<http::Cancellable> step) {
  if (!step) return;
  {
    std::lock_guard lock(mutex_);
    if (!cancelled_) {
      if (!finished_) step_ = std::move(step);
      return;
    }
  }
  step->cancel();
}

void GraphQLOperation::finish(std::optional<GraphQLResult> result, std::optional<Error> error) {
  ResultHandler handler;
  std::shared_ptr<MainQueue> queue;
  {
    std::lock_guard lock(mutex_);
    if (cancelled_ || finished_) return;
    finished_ = true;
    handler = std::move(handler_);
    queue = queue_;
    step_.reset();
  }
  if (!handler) return;
  auto deliver = [self = shared_from_this(), handler = std::move(handler),
                  result = std::move(result), error = std::move(error)]() mutable {
    // A cancel that came after the outcome was queued still wins.
    if (self->isCancelled()) return;
    handler(std::move(result), std::move(error));
  };
  if (queue) {
    queue->async(std::move(deliver));
  } else {
    executor_->execute(std::move(deliver));
  }
}

}  // namespace corvenza::appsync
