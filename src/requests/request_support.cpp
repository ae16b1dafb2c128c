#include "requests/request_support.h"

#include <corvenza/console.h>

#include "requests/graphql_gateway.h"
#include "requests/operation_guard.h"

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

Error timeOutError() {
  return CorvenzaError(CorvenzaErrorReason::appSyncClientTimeOut,
                       UserInfo{{error_info::kDetail, "The service did not answer in time"}});
}

std::shared_ptr<OperationGuard> guardOperation(const CorvenzaEnterprise::Instance::Impl& impl,
                                               std::function<void()> onTimeout) {
  return OperationGuard::arm(std::chrono::duration<double>(impl.estimationTimeOutSec),
                             std::move(onTimeout));
}

void callBackWithErrors(RequestCallback callback, Errors errors) {
  CorvenzaEnterprise::mainQueue()->async(
      [callback = std::move(callback), errors = std::move(errors)]() mutable {
        if (callback) callback(nullptr, std::move(errors));
      });
}

}  // namespace corvenza::requests
