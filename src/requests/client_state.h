#pragma once
// What one client keeps between calls: its settings, the cloud clients it
// built for its user, its listeners and its progress. The facade's shared
// instance and every EstimationClient each own one; nothing here is shared
// between clients.

#include <corvenza/config.h>
#include <corvenza/main_queue.h>
#include <corvenza/region.h>
#include <corvenza/request_callbacks.h>
#include <corvenza/token.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/device/reachability.h"
#include "platform/dispatch/default_main_queue.h"
#include "platform/http/http_transport.h"

namespace corvenza::appsync {
class ObjectManager;
class SubscriptionWatcher;
}  // namespace corvenza::appsync
namespace corvenza::storage {
class PresignedURLBuilder;
class TransferUtility;
}  // namespace corvenza::storage
namespace corvenza::auth {
class DeveloperAuthenticatedIdentityProvider;
}
namespace corvenza::identity {
class CredentialsProvider;
struct ServiceConfiguration;
}  // namespace corvenza::identity

namespace corvenza::requests {

class GraphQLGateway;

struct ClientState {
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

  // Where callbacks run; the process's default main queue when absent, looked
  // up at each use so that a queue set later is honoured.
  std::shared_ptr<MainQueue> mainQueue;
  // The HTTP transport under signing and retries; the process's shared one
  // when absent (resolved when the clients are built).
  std::shared_ptr<http::HttpTransport> transport;
  // The offline cache's file; absent keeps the cache in memory.
  std::optional<std::filesystem::path> cacheFile;

  // Identity side, built with the clients.
  std::shared_ptr<auth::DeveloperAuthenticatedIdentityProvider> developerIdentityProvider;
  std::shared_ptr<identity::CredentialsProvider> cognitoCredentialsProvider;
  std::shared_ptr<const identity::ServiceConfiguration> serviceConfiguration;

  // Makes the download links of stored photos.
  std::shared_ptr<storage::PresignedURLBuilder> presignedURLBuilder;
  // Uploads the photos, signed with this client's credentials.
  std::shared_ptr<storage::TransferUtility> transferUtility;
  // The object manager the GraphQL client uploads photos through.
  std::shared_ptr<appsync::ObjectManager> s3ObjectManager;
  // The GraphQL client; absent until start-up builds one.
  std::shared_ptr<GraphQLGateway> appSyncClient;

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

  /// The queue callbacks run on. Thread-safe.
  std::shared_ptr<MainQueue> queue() const {
    {
      std::lock_guard lock(mutex);
      if (mainQueue) return mainQueue;
    }
    return dispatch::defaultMainQueue();
  }
};

}  // namespace corvenza::requests
