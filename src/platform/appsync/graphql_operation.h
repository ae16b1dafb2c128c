#pragma once
// One running fetch or perform: the handle handed to the caller. It owns the
// result handler, knows the step in flight (an upload or the HTTP transfer)
// and delivers the outcome on the caller's queue exactly once.

#include <corvenza/main_queue.h>

#include <memory>
#include <mutex>
#include <optional>

#include "platform/appsync/graphql_request.h"
#include "platform/dispatch/executor.h"
#include "platform/http/http_transport.h"

namespace corvenza::appsync {

class GraphQLOperation final : public http::Cancellable,
                               public std::enable_shared_from_this<GraphQLOperation> {
 public:
  /// The handler runs on @p queue, or on @p executor when there is none.
  GraphQLOperation(std::shared_ptr<MainQueue> queue, std::shared_ptr<dispatch::Executor> executor,
                   ResultHandler handler);

  /// Stops the step in flight and makes sure the handler never runs, even if
  /// its outcome is already queued. Any thread, any number of times.
  void cancel() override;
  bool isCancelled() const;

  /// Records @p step as the one in flight, so cancel() reaches it. When the
  /// operation is already cancelled, cancels @p step at once.
  void attach(std::shared_ptr<http::Cancellable> step);

  /// Queues the handler with this outcome. Only the first call counts; after
  /// cancel() nothing is queued.
  void finish(std::optional<GraphQLResult> result, std::optional<Error> error);

 private:
  mutable std::mutex mutex_;
  bool cancelled_ = false;
  bool finished_ = false;
  std::shared_ptr<MainQueue> queue_;
  const std::shared_ptr<dispatch::Executor> executor_;
  ResultHandler handler_;
  std::shared_ptr<http::Cancellable> step_;
};

}  // namespace corvenza::appsync
