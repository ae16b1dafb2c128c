#pragma once
// What a subscriber holds on to, and what it is told for each message.

#include <functional>
#include <optional>

#include "platform/appsync/graphql_request.h"

namespace corvenza::appsync {

/// Receives every message of one subscription: a result (data and/or errors)
/// or an error (the subscription could not start or was refused), never both.
/// Runs on the queue the subscriber named.
using SubscriptionHandler =
    std::function<void(std::optional<GraphQLResult> result, std::optional<Error> error)>;

/// Told, on the subscriber's queue, each time the service acknowledged the
/// subscription's start (again after a reconnection): events flow from then on.
using SubscriptionStarted = std::function<void()>;

/// One running subscription.
class SubscriptionWatcher {
 public:
  virtual ~SubscriptionWatcher() = default;
  /// Ends the subscription. Once it returns, the handler is never called again,
  /// even for messages already queued. Idempotent; thread-safe.
  virtual void cancel() = 0;
};

}  // namespace corvenza::appsync
