#pragma once
// What one client keeps between calls, in three rooms: its settings (read
// at start-up, then fixed), the services start-up builds for its user (built
// once), and its session (delegate, progress, listeners: what changes while
// it runs, behind a lock of its own). The facade's shared instance and every
// EstimationClient each own one; nothing here is shared between clients.

#include <corvenza/config.h>
#include <corvenza/connection_state.h>
#include <corvenza/main_queue.h>
#include <corvenza/region.h>
#include <corvenza/request_callbacks.h>
#include <corvenza/token.h>

#include <array>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/device/reachability.h"
#include "platform/http/http_transport.h"
#include "platform/runtime/runtime.h"
#include "requests/catch_up.h"

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
class TokenCache;
}  // namespace corvenza::auth
namespace corvenza::identity {
class CredentialsProvider;
struct ServiceConfiguration;
}  // namespace corvenza::identity

namespace corvenza::requests {

class GraphQLGateway;

/// The values a client starts with. Fixed once start-up has read them.
struct ClientSettings {
  std::string graphQLEndpoint = Constants::APPSYNC_ENDPOINT_URL;
  std::string cognitoIDPoolID = Constants::COGNITO_ID_POOL_ID;
  AWSRegionType graphQLRegion = Constants::APPSYNC_REGION;
  AWSRegionType cognitoIDPoolRegion = Constants::COGNITO_REGION;
  std::string imageBucketRegion;
  std::string imageBucketName;
  std::string encryptionKey;
  /// The offline cache's file; absent keeps the cache in memory.
  std::optional<std::filesystem::path> cacheFile;
};

/// What start-up builds for the client's user. Absent members were not built
/// (start-up said why); nothing changes them afterwards.
struct ClientServices {
  std::shared_ptr<CorvenzaTokenProvider> tokenProvider;
  /// The provider's own store of its token, when it keeps one.
  std::shared_ptr<auth::TokenCache> tokenCache;
  std::shared_ptr<auth::DeveloperAuthenticatedIdentityProvider> developerIdentityProvider;
  std::shared_ptr<identity::CredentialsProvider> cognitoCredentialsProvider;
  std::shared_ptr<const identity::ServiceConfiguration> serviceConfiguration;
  /// Makes the download links of stored photos.
  std::shared_ptr<storage::PresignedURLBuilder> presignedURLBuilder;
  /// Uploads the photos, signed with this client's credentials.
  std::shared_ptr<storage::TransferUtility> transferUtility;
  /// The object manager the GraphQL client uploads photos through.
  std::shared_ptr<appsync::ObjectManager> s3ObjectManager;
  /// The GraphQL client.
  std::shared_ptr<GraphQLGateway> appSyncClient;
  /// Tells whether the device has a network; replaceable by tests.
  device::ReachabilityFactory reachabilityFactory = device::makeSystemReachability;
};

/// What changes while the client runs: the creations' delegate and progress,
/// and the change listeners with their running subscriptions. Every member
/// is thread-safe; none calls out while holding the lock.
class ClientSession {
 public:
  using Watcher = std::shared_ptr<appsync::SubscriptionWatcher>;

  std::shared_ptr<CorvenzaEnterpriseDelegate> delegate() const;
  void setDelegate(std::shared_ptr<CorvenzaEnterpriseDelegate> delegate);
  EstimationProgressType progress() const;
  /// Records @p progress; returns the delegate to tell.
  std::shared_ptr<CorvenzaEnterpriseDelegate> setProgress(EstimationProgressType progress);
  ConnectionStateListener connectionListener() const;
  void setConnectionListener(ConnectionStateListener listener);

  /// Registers @p callback under @p name; true when the kind has no running
  /// subscription yet (the caller starts one).
  bool addListener(EstimationEventKind kind, const std::string& name, RequestCallback callback);
  /// True while the kind's subscription runs.
  bool isRunning(EstimationEventKind kind) const;
  /// The kind's listeners, copied so that none is called with the lock held.
  std::vector<RequestCallback> listeners(EstimationEventKind kind) const;
  /// Makes @p watcher the kind's running subscription; returns the one to
  /// cancel: the one it replaced, or @p watcher itself when no listener is left.
  Watcher keepWatcher(EstimationEventKind kind, Watcher watcher);
  /// Removes @p name; returns the kind's subscription to cancel when it was the last.
  Watcher removeListener(EstimationEventKind kind, const std::string& name);
  /// Removes every listener; returns every running subscription to cancel.
  std::vector<Watcher> removeAllListeners();

 private:
  struct Kind {
    std::map<std::string, RequestCallback> listeners;
    Watcher watcher;
  };
  Kind& kindOf(EstimationEventKind kind);
  const Kind& kindOf(EstimationEventKind kind) const;

  mutable std::mutex mutex_;
  std::shared_ptr<CorvenzaEnterpriseDelegate> delegate_;
  EstimationProgressType progress_ = EstimationProgressType::none;
  ConnectionStateListener connectionListener_;
  std::array<Kind, 3> kinds_;
};

class ClientState {
 public:
  static constexpr const char* kDatabaseName = "CorvenzaEnterprise";
  static constexpr double kEstimationTimeOutSec = 45.0;

  /// @p mainQueue: where callbacks run; the process's default main queue when
  /// absent, looked up at each use so that a queue set later is honoured.
  /// @p transport: the HTTP transport under signing and retries; the
  /// process's shared one when absent. The rest of the runtime is the process's.
  /// @p connection: the certificate authorities and proxy of every connection.
  explicit ClientState(std::shared_ptr<MainQueue> mainQueue = nullptr,
                       std::shared_ptr<http::HttpTransport> transport = nullptr,
                       http::ConnectionSettings connection = {});

  /// The settings as start-up left them (the built-in defaults before).
  std::shared_ptr<const ClientSettings> settings() const;
  void setSettings(ClientSettings settings);
  /// The services built so far.
  std::shared_ptr<const ClientServices> services() const;
  void setServices(ClientServices services);

  bool initialized() const;
  void markInitialized();
  /// Serialises start-up, which calls out (configuration, client set-up).
  std::mutex& startupMutex() { return startupMutex_; }

  ClientSession& session() { return session_; }
  const ClientSession& session() const { return session_; }
  /// What the listeners know of the user's requests, for catching up after a drop.
  CatchUp& catchUp() { return catchUp_; }

  /// The queue callbacks run on. Thread-safe.
  std::shared_ptr<MainQueue> queue() const;
  /// What the client's services share of the process, fixed at construction.
  const runtime::Runtime& runtime() const { return runtime_; }

 private:
  const std::shared_ptr<MainQueue> mainQueue_;
  const runtime::Runtime runtime_;
  // Guards the snapshots and the flag; held only to copy a pointer.
  mutable std::mutex mutex_;
  std::shared_ptr<const ClientSettings> settings_;
  std::shared_ptr<const ClientServices> services_;
  bool initialized_ = false;
  std::mutex startupMutex_;
  ClientSession session_;
  CatchUp catchUp_;
};

}  // namespace corvenza::requests
