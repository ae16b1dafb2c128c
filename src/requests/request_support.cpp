#include "requests/request_support.h"

#include <corvenza/console.h>

#include "platform/storage/presigned_url_builder.h"
#include "requests/graphql_gateway.h"
#include "requests/operation_guard.h"

namespace corvenza::requests {

void printErrors(const Errors& errors) {
  for (const auto& error : errors) consoleLine(error.localizedDescription());
}

appsync::CachePolicy readCachePolicy(const ClientState& state) {
  const auto factory = state.services()->reachabilityFactory;
  auto probe = factory ? factory() : nullptr;
  if (probe && probe->connection() == device::Connection::unavailable) {
    return appsync::CachePolicy::returnCacheDataDontFetch;
  }
  return appsync::CachePolicy::fetchIgnoringCacheData;
}

std::shared_ptr<GraphQLGateway> graphQLClient(const ClientState& state) {
  return state.services()->appSyncClient;
}

DownloadLinkMaker downloadLinks(const ClientState& state) {
  auto builder = state.services()->presignedURLBuilder;
  if (!builder) return {};
  return [builder](const S3Object& object) {
    return builder->getPresignedURL(object.getBucketName(), object.getKeyName());
  };
}

Error notInitializedError() { return CorvenzaError(CorvenzaErrorReason::notInitialized); }

Error timeOutError() {
  return CorvenzaError(CorvenzaErrorReason::appSyncClientTimeOut,
                       UserInfo{{error_info::kDetail, "The service did not answer in time"}});
}

std::shared_ptr<OperationGuard> guardOperation(const ClientState& state,
                                               std::function<void()> onTimeout) {
  return OperationGuard::arm(std::chrono::duration<double>(ClientState::kEstimationTimeOutSec),
                             state.queue(), std::move(onTimeout));
}

void callBackWithErrors(const std::shared_ptr<MainQueue>& queue, RequestCallback callback,
                        Errors errors) {
  queue->async([callback = std::move(callback), errors = std::move(errors)]() mutable {
    if (callback) callback(nullptr, std::move(errors));
  });
}

}  // namespace corvenza::requests
