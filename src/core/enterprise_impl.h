#pragma once
// The shared facade's state. Only the library's own sources include this.

#include <corvenza/enterprise.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>

#include "platform/device/reachability.h"

namespace corvenza::requests {
class GraphQLGateway;
}
namespace corvenza::appsync {
class ObjectManager;
class SubscriptionWatcher;
}  // namespace corvenza::appsync
namespace corvenza::storage {
class PresignedURLBuilder;
}

namespace corvenza::auth {
class DeveloperAuthenticatedIdentityProvider;
}
namespace corvenza::identity {
class CredentialsProvider;
struct ServiceConfiguration;
}  // namespace corvenza::identity

namespace corvenza {

struct CorvenzaEnterprise::Instance::Impl {
  // Guards every field below; never held while calling out of the library.
  mutable std::mutex mutex;
  // Serialises start-up, which calls out (configuration, client set-up).
  std::mutex startupMutex;

  const std::string databaseName = "CorvenzaEnterprise";
  std::shared_ptr<CorvenzaTokenProvider> tokenProvider;
  std::string graphQLEndpoint = Constants::APPSYNC_ENDPOINT_URL;
  std::string cognitoIDPoolID = Constants::COGNITO_ID_POOL_ID;
  AWSRegionType graphQLRegion = Constants::APPSYNC_REGION;
  AWSRegionType cognitoIDPoolRegion = Constants::COGNITO_REGION;
  std::string imageBucketRegion;
  std::string imageBucketName;
  std::string encryptionKey;
  bool initialized = false;
  std::shared_ptr<CorvenzaEnterpriseDelegate> delegate;
  EstimationProgressType estimationProgress = EstimationProgressType::none;
  const double estimationTimeOutSec = 45.0;
  // The time-out of the latest creation step (each creation also keeps its own).
  std::shared_ptr<DispatchWorkItem> timeoutDispatchWorkItem;

  // Identity side, built by initializeAWS() (see core/enterprise_identity.h).
  std::shared_ptr<auth::DeveloperAuthenticatedIdentityProvider> developerIdentityProvider;
  std::shared_ptr<identity::CredentialsProvider> cognitoCredentialsProvider;
  std::shared_ptr<const identity::ServiceConfiguration> serviceConfiguration;

  // Makes the download links of stored photos; built by initializeAWS().
  std::shared_ptr<storage::PresignedURLBuilder> presignedURLBuilder;
  // The object manager the GraphQL client uploads photos through.
  std::shared_ptr<appsync::ObjectManager> s3ObjectManager;
  // The GraphQL client; absent until start-up builds one.
  std::shared_ptr<requests::GraphQLGateway> appSyncClient;

  // Subscriptions: one map of listeners and one watcher per event kind. Guarded
  // by subscriptionMutex (not `mutex`), never held while calling out.
  mutable std::mutex subscriptionMutex;
  std::map<std::string, RequestCallback> createSubscriptionCallbacks;
  std::map<std::string, RequestCallback> updateSubscriptionCallbacks;
  std::map<std::string, RequestCallback> deleteSubscriptionCallbacks;
  std::shared_ptr<appsync::SubscriptionWatcher> createBodysizeEstimationSubscriptionWatcher;
  std::shared_ptr<appsync::SubscriptionWatcher> updateBodysizeEstimationSubscriptionWatcher;
  std::shared_ptr<appsync::SubscriptionWatcher> deleteBodysizeEstimationSubscriptionWatcher;

  // Outside components, replaceable by tests.
  device::ReachabilityFactory reachabilityFactory = device::makeSystemReachability;

  /// Puts a fresh state in place of the shared instance's (tests only).
  static void resetForTesting();
};

/// Hands the bytes of the photo being uploaded to the delegate, on the main
/// queue, with the creation's current progress. Callable from any thread.
void reportUploadProgress(CorvenzaEnterprise::Instance::Impl& impl, std::uint64_t bytesSent,
                          std::uint64_t bytesTotal);

}  // namespace corvenza
