#pragma once
// What the request operations need of the GraphQL client: fetch and perform
// on generic requests. The real client sits behind it; tests use a fake.

#include <corvenza/main_queue.h>

#include <memory>

#include "platform/appsync/graphql_request.h"
#include "platform/http/http_transport.h"

namespace corvenza::appsync {
class GraphQLClient;
}

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
};

/// The gateway over the real GraphQL client.
std::shared_ptr<GraphQLGateway> makeClientGateway(std::shared_ptr<appsync::GraphQLClient> client);

}  // namespace corvenza::requests
