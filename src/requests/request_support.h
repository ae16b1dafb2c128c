#pragma once
// Small pieces every request operation shares.

#include <corvenza/main_queue.h>
#include <corvenza/remote_image.h>
#include <corvenza/request_callbacks.h>

#include <functional>
#include <memory>

#include "platform/appsync/graphql_request.h"
#include "platform/http/http_transport.h"
#include "requests/client_state.h"

namespace corvenza::requests {

class GraphQLGateway;

/// Writes each error's description on a line of its own.
void printErrors(const Errors& errors);

/// Offline (a probe reports no connection): answer from the cache only.
/// Otherwise, and when no probe can be made, always ask the service.
appsync::CachePolicy readCachePolicy(const ClientState& state);

/// The GraphQL client, or nothing before start-up has built one.
std::shared_ptr<GraphQLGateway> graphQLClient(const ClientState& state);

/// Signs download links of stored photos with @p state's credentials; none
/// before start-up has built the builder.
DownloadLinkMaker downloadLinks(const ClientState& state);

/// The error an operation reports when there is no client to run it.
Error notInitializedError();

/// The error of an operation the service did not answer in time (1995).
Error timeOutError();

/// What a read or change gets when the service does not answer: after the
/// step limit, its operation is cancelled and @p onTimeout runs.
std::shared_ptr<class OperationGuard> guardOperation(const ClientState& state,
                                                     std::function<void()> onTimeout);

/// Queues @p callback on @p queue with no record and @p errors.
void callBackWithErrors(const std::shared_ptr<MainQueue>& queue, RequestCallback callback,
                        Errors errors);

/// Reads request @p id with @p policy; @p callback runs once on @p queue (not
/// after the handle is cancelled). An id the service does not hold for this
/// user is CorvenzaError unexpectedError with "reason" "notFound".
std::shared_ptr<http::Cancellable> readEstimationRequest(
    GraphQLGateway& client, appsync::CachePolicy policy, std::shared_ptr<MainQueue> queue,
    const std::string& id, DownloadLinkMaker links, RequestCallback callback);

}  // namespace corvenza::requests
