#pragma once
// Small pieces every request operation shares.

#include <corvenza/enterprise.h>

#include <functional>
#include <memory>

#include "core/enterprise_impl.h"
#include "platform/appsync/graphql_request.h"
#include "platform/http/http_transport.h"

namespace corvenza::requests {

class GraphQLGateway;

/// Writes each error's description on a line of its own.
void printErrors(const Errors& errors);

/// Offline (a probe reports no connection): answer from the cache only.
/// Otherwise, and when no probe can be made, always ask the service.
appsync::CachePolicy readCachePolicy(const CorvenzaEnterprise::Instance::Impl& impl);

/// The GraphQL client, or nothing before start-up has built one.
std::shared_ptr<GraphQLGateway> graphQLClient(const CorvenzaEnterprise::Instance::Impl& impl);

/// The error an operation reports when there is no client to run it.
Error notInitializedError();

/// The error of an operation the service did not answer in time (1995).
Error timeOutError();

/// What a read or change gets when the service does not answer: after the
/// step limit, its operation is cancelled and @p onTimeout runs.
std::shared_ptr<class OperationGuard> guardOperation(const CorvenzaEnterprise::Instance::Impl& impl,
                                                     std::function<void()> onTimeout);

/// Queues @p callback on the main queue with no record and @p errors.
void callBackWithErrors(RequestCallback callback, Errors errors);

/// Reads request @p id with @p policy; @p callback runs once on the main
/// queue (not after the handle is cancelled). An id the service does not hold
/// for this user is CorvenzaError unexpectedError with "reason" "notFound".
std::shared_ptr<http::Cancellable> readEstimationRequest(GraphQLGateway& client,
                                                         appsync::CachePolicy policy,
                                                         const std::string& id,
                                                         RequestCallback callback);

}  // namespace corvenza::requests
