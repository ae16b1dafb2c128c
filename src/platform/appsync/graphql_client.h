#pragma once
// The GraphQL client: queries and mutations over HTTPS, signed per attempt,
// with an offline cache and file uploads before mutations that carry them.

#include <corvenza/main_queue.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/result.h"
#include "platform/appsync/graphql_request.h"
#include "platform/appsync/normalized_cache.h"
#include "platform/appsync/object_manager.h"
#include "platform/dispatch/executor.h"
#include "platform/http/http_transport.h"

namespace corvenza::appsync {

/// Signs a request and hands it back (or an error) exactly once, on any
/// thread, possibly inline. Called afresh for every request sent.
using RequestSigner = std::function<void(
    http::HttpRequest request, std::function<void(detail::Result<http::HttpRequest>)> done)>;

struct ClientConfiguration {
  /// The GraphQL endpoint, an absolute http or https URL.
  std::string endpointURL;
  /// Region the requests are signed for (kept for the signer's owner).
  std::string region;
  /// Signs each request; requests go unsigned when empty.
  RequestSigner signer;
  /// Sends the requests; required.
  std::shared_ptr<http::HttpTransport> transport;
  /// Runs the handlers of calls that name no queue; required.
  std::shared_ptr<dispatch::Executor> executor;
  /// The offline cache's database file; an in-memory cache when empty.
  std::filesystem::path databaseURL;
  /// Uploads the files of complex-object inputs; mutations that carry one
  /// fail without being sent when this is null.
  std::shared_ptr<ObjectManager> objectManager;
  /// Key a response object is cached under; the object's "id" when empty.
  CacheKeyFunction cacheKeyForObject;
  /// Whose records the cache holds: called when an answer arrives and before
  /// a cache read, it names the signed-in identity, or is empty while nobody
  /// is known (nothing is cached or read then). When not set, the cache has
  /// one fixed owner.
  std::function<std::string()> cacheOwner;
};

/// Thread-safe: every member may be called from any thread at any time.
///
/// Handler contract for fetch() and perform(): the handler runs exactly once,
/// on @p queue, never inline from the call, with either a result or an error;
/// after cancel() on the returned handle it never runs. Errors are transport
/// errors (kTransportErrorDomain), the client's own (kGraphQLClientErrorDomain,
/// HTTP statuses outside 2xx among them) or the object manager's; errors the
/// service reports in the body arrive as the result's `errors`.
class GraphQLClient {
 public:
  /// Builds a client. Fails only for an endpoint that is not an http(s) URL.
  /// A database that cannot be opened (unwritable place, not a database) is
  /// replaced by an in-memory cache, with a console warning.
  static detail::Result<std::shared_ptr<GraphQLClient>> create(ClientConfiguration configuration);

  ~GraphQLClient();
  GraphQLClient(const GraphQLClient&) = delete;
  GraphQLClient& operator=(const GraphQLClient&) = delete;

  /// Runs a query. With fetchIgnoringCacheData it is sent and its data (when
  /// the answer has no errors) written to the cache; with
  /// returnCacheDataDontFetch the answer comes from the cache only, and a miss
  /// is a result with no data and no errors.
  std::shared_ptr<http::Cancellable> fetch(GraphQLRequest request, CachePolicy cachePolicy,
                                           std::shared_ptr<MainQueue> queue, ResultHandler handler);

  /// Runs a mutation. Every complex-object input in its variables is uploaded
  /// first, one after the other; the mutation is sent (variables unchanged)
  /// only when all uploads succeeded, otherwise the handler gets the upload's
  /// error. Objects in the answer are merged into the cache.
  std::shared_ptr<http::Cancellable> perform(GraphQLRequest request,
                                             std::shared_ptr<MainQueue> queue,
                                             ResultHandler handler);

  /// Forgets everything cached.
  detail::Status clearCache();

  const std::string& endpointURL() const;
  const std::string& region() const;
  /// False when the cache fell back to memory.
  bool cacheIsPersistent() const;

 private:
  struct Core;
  explicit GraphQLClient(std::shared_ptr<Core> core);
  std::shared_ptr<Core> core_;
};

/// The default cache key: the object's "id" member (a string or an integer).
std::optional<std::string> cacheKeyFromId(const nlohmann::json& object);

}  // namespace corvenza::appsync
