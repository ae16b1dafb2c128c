#pragma once
// What the request operations need of the GraphQL client: fetch and perform
// on generic requests. The real client sits behind it; tests use a fake.

#include <corvenza/main_queue.h>

#include <memory>

#include "core/result.h"
#include "platform/appsync/graphql_request.h"
#include "platform/appsync/realtime/subscription_watcher.h"
#include "platform/http/http_transport.h"

namespace corvenza::appsync {
class GraphQLClient;
class RealtimeClient;
}  // namespace corvenza::appsync

namespace corvenza::requests {

class GraphQLGateway {
 public:
  virtual ~GraphQLGateway() = default;

  /// Runs a query; @p handler runs once on @p queue unless the handle is cancelled.
  virtual std::shared_ptr<http::Cancellable> fetch(appsync::GraphQLRequest request,
                                                   appsync::CachePolicy cachePolicy,
                                                   std::shared_ptr<MainQueue> queue,
                                                   appsync::ResultHandler handler) = 0;
  /// Runs a mutation (uploading its complex objects first); same contract.
  virtual std::shared_ptr<http::Cancellable> perform(appsync::GraphQLRequest request,
                                                     std::shared_ptr<MainQueue> queue,
                                                     appsync::ResultHandler handler) = 0;
  /// Starts a subscription; @p handler runs on @p queue for every message
  /// and @p started for every acknowledged start, until the watcher is
  /// cancelled. Fails when the gateway cannot subscribe.
  virtual detail::Result<std::shared_ptr<appsync::SubscriptionWatcher>> subscribe(
      appsync::GraphQLRequest request, std::shared_ptr<MainQueue> queue,
      appsync::SubscriptionHandler handler, appsync::SubscriptionStarted started = {});
  /// Forgets every answer kept for offline reads (nothing by default).
  virtual void clearCache() {}
};

/// The gateway over the real GraphQL client.
/// Subscriptions go through @p realtime; without one, subscribe fails.
std::shared_ptr<GraphQLGateway> makeClientGateway(
    std::shared_ptr<appsync::GraphQLClient> client,
    std::shared_ptr<appsync::RealtimeClient> realtime = nullptr);

}  // namespace corvenza::requests
