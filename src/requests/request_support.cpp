#include "requests/request_support.h"

#include <corvenza/console.h>

#include "requests/graphql_gateway.h"

namespace corvenza::requests {

void printErrors(const Errors& errors) {
  for (const auto& error : errors) consoleLine(error.localizedDescription());
}

appsync::CachePolicy readCachePolicy(const CorvenzaEnterprise::Instance::Impl& impl) {
  device::ReachabilityFactory factory;
  {
    std::lock_guard lock(impl.mutex);
    factory = impl.reachabilityFactory;
  }
  auto probe = factory ? factory() : nullptr;
  if (probe && probe->connection() == device::Connection::unavailable) {
    return appsync::CachePolicy::returnCacheDataDontFetch;
  }
  return appsync::CachePolicy::fetchIgnoringCacheData;
}

std::shared_ptr<GraphQLGateway> graphQLClient(const CorvenzaEnterprise::Instance::Impl& impl) {
  std::lock_guard lock(impl.mutex);
  return impl.appSyncClient;
}

Error notInitializedError() { return CorvenzaError(CorvenzaErrorReason::notInitialized); }

void callBackWithErrors(RequestCallback callback, Errors errors) {
  CorvenzaEnterprise::mainQueue()->async(
      [callback = std::move(callback), errors = std::move(errors)]() mutable {
        if (callback) callback(nullptr, std::move(errors));
      });
}

}  // namespace corvenza::requests
