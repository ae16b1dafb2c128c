#pragma once
/// @file
/// CorvenzaEnterprise: the facade through which an application reaches the library.
///
/// Mapping of class-level and instance-level operations. The class
/// `CorvenzaEnterprise` holds the class-level operations as static member
/// functions. Its one shared instance, `CorvenzaEnterprise::shared()`, is of
/// the nested type `CorvenzaEnterprise::Instance`, which holds the
/// instance-level operations under the same names. So both forms keep their
/// names:
///
///     CorvenzaEnterprise::initialize(provider);           // class level
///     CorvenzaEnterprise::shared().initialize(provider);  // instance level
///
/// The shared instance is created on first use, exactly once, also when first
/// reached from several threads at once, and is deliberately never destroyed.

#include <corvenza/config.h>
#include <corvenza/connection_state.h>
#include <corvenza/error.h>
#include <corvenza/estimation.h>
#include <corvenza/main_queue.h>
#include <corvenza/region.h>
#include <corvenza/request_callbacks.h>
#include <corvenza/token.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace corvenza {

class DefaultTokenProvider;
namespace requests {
struct ClientState;
}
namespace detail {
/// Puts a fresh state in place of the shared instance's (tests only).
void resetSharedInstanceForTesting();
}  // namespace detail

class CorvenzaEnterprise {
 public:
  class Instance;

  /// The shared instance, created on first use. Thread-safe.
  static Instance& shared();

  /// Starts the library once: stores @p tokenProvider, reads the
  /// configuration and builds the cloud clients. Later calls return at once
  /// and ignore their provider.
  /// @throws CorvenzaException with code 1997 (`configNotFound`) when
  ///         "corvenza-config.json" is missing from the bundle, cannot be
  ///         read or cannot be decoded (user information "detail" says
  ///         which); no client is built and nothing is sent. Start-up may
  ///         then be retried.
  static void initialize(std::shared_ptr<CorvenzaTokenProvider> tokenProvider);

  /// The provider given to initialize, or nothing.
  static std::shared_ptr<CorvenzaTokenProvider> tokenProvider();

  /// True unless a fresh reachability probe reports no connection.
  /// Needs no initialize. Thread-safe.
  static bool isNetworkReachable();

  /// A new error of domain "CorvenzaError", code 2000, without user information.
  static Error unknownError();

  /// The stored provider when it is a DefaultTokenProvider (or derived from
  /// it), otherwise nothing.
  static std::shared_ptr<DefaultTokenProvider> defaultTokenProvider();

  /// Signs the user out of the cloud side: clears the credentials provider's
  /// cache and the identity bridge, then clears a DefaultTokenProvider's
  /// token, and empties the offline cache. Keeps the clients and the stored
  /// provider. Does nothing before initialize. Thread-safe.
  static void clearCredentials();

  /// The stored file names of a request's images.
  enum class EstimationImageType { front, side, annotated_front, annotated_side };
  /// "front.jpg", "side.jpg", "annotated_front_image.jpg", "annotated_side_image.jpg".
  static std::string rawValue(EstimationImageType type);
  /// The image type of exactly one of the four raw texts, else nothing.
  static std::optional<EstimationImageType> estimationImageType(std::string_view rawValue);

  /// Returns false at once and never calls @p completion (the operation is
  /// kept for compatibility; use RemoteImageProxy::downloadableURL instead).
  static bool getS3Image(const std::string& requestId, EstimationImageType dir,
                         std::function<void(std::optional<std::string> url)> completion);

  /// Creates a request from @p estimationParameter: creates it on the
  /// service, uploads and attaches the front photo, then the side photo (each
  /// scaled to at most 1080 points wide, JPEG, stored encrypted), and hands
  /// back the request as the service then holds it. Each network step has 45
  /// seconds (`appSyncClientTimeOut`, code 1995). Progress goes to the
  /// delegate. Without both photos nothing is sent and the callback hears
  /// why: CorvenzaError `unexpectedError` (code 2000) whose user information
  /// "detail" names the missing photo. See RequestCallback.
  static void createEstimationRequest(const EstimationParameter& estimationParameter,
                                      RequestCallback callback = {});

  /// Reads one request. A request that does not exist, or another user's,
  /// is reported as CorvenzaError code 2000. When the device is offline the
  /// answer comes from the local cache only. See RequestCallback.
  static void getEstimationRequest(const std::string& id, RequestCallback callback = {});

  /// Lists the user's requests, one page of at most @p limit (the service's
  /// default when absent), continuing after @p nextToken. Offline, the answer
  /// comes from the local cache only. See ListCallback.
  static void listEstimationRequests(std::optional<int> limit = std::nullopt,
                                     std::optional<std::string> nextToken = std::nullopt,
                                     ListCallback callback = {});

  /// Changes height, weight, age and gender of a request (gender is sent as
  /// null when the parameter has none; the photos and the fail flag are not
  /// changed). Failures the library detects are errors of domain
  /// "CorvenzaUnknownError", code 1999. Without an answer within 45 seconds
  /// the callback gets `appSyncClientTimeOut` (code 1995); the change may
  /// still have been applied, so read the request to know. See RequestCallback.
  static void updateEstimationRequest(const std::string& id,
                                      const EstimationParameter& estimationParameter,
                                      RequestCallback callback = {});

  /// Deletes a request; the record handed back carries only its id.
  /// Failures the library detects are errors of domain "CorvenzaUnknownError",
  /// code 1999. Without an answer within 45 seconds the callback gets
  /// `appSyncClientTimeOut` (code 1995); the request may still have been
  /// deleted, so read it to know. See RequestCallback.
  static void deleteEstimationRequest(const std::string& id, RequestCallback callback = {});

  /// Listens to the signed-in user's requests being created, updated or
  /// deleted, under @p name (a later listener under the same name of the same
  /// kind replaces the earlier one). Asks the DefaultTokenProvider, if that is
  /// the provider, to ensure a token first. Each event reaches every listener
  /// of its kind on the main queue as a record with only id and status; a
  /// failure to start (no signed-in user: CorvenzaError notSignedIn, or
  /// unexpectedError for deletions) reaches only @p callback, which stays
  /// registered. Thread-safe.
  static void subscribeCreationOfEstimationRequests(RequestCallback callback,
                                                    const std::string& name);
  /// See subscribeCreationOfEstimationRequests.
  static void subscribeUpdateOfEstimationRequests(RequestCallback callback,
                                                  const std::string& name);
  /// See subscribeCreationOfEstimationRequests.
  static void subscribeDeletionOfEstimationRequesets(RequestCallback callback,
                                                     const std::string& name);
  /// Removes the listener under @p name; the last one of a kind ends that
  /// kind's subscription. An unknown name changes nothing. Thread-safe.
  static void unsubscribeCreationOfEstimationRequests(const std::string& name);
  /// See unsubscribeCreationOfEstimationRequests.
  static void unsubscribeUpdationOfEstimationRequests(const std::string& name);
  /// See unsubscribeCreationOfEstimationRequests.
  static void unsubscribeDeletionOfEstimationRequesets(const std::string& name);
  /// Removes @p name from all three kinds.
  static void unsubscribeEstimationRequests(const std::string& name);
  /// Removes every listener and ends every subscription.
  static void unsubscribeAll();

  /// Replaces the main queue on which every callback runs. Call it before
  /// initialize; the default runs on a thread the library owns.
  static void setMainQueue(std::shared_ptr<MainQueue> queue);

  /// The certificate authorities (a PEM file) every connection of the
  /// process trusts and the HTTP proxy it goes through, unless a client was
  /// given its own (EstimationClientOptions::caBundle and ::proxy describe
  /// both): the shared instance's and the token providers' requests. Empty
  /// values keep AWS_CA_BUNDLE, the system store and the proxy variables.
  /// Call it before initialize: afterwards it changes nothing and returns false.
  static bool setConnectionSettings(std::filesystem::path caBundle, std::string proxy = {});
  /// The main queue in use (created on first use).
  static std::shared_ptr<MainQueue> mainQueue();

  /// Stops and joins the threads the library started for the process: the
  /// default main queue's, the shared HTTP transport's, the executor's and the
  /// retry timer's (a client's real-time thread is joined when the client
  /// goes). For tools and tests that end the process cleanly; the library is
  /// not meant to be used afterwards.
  static void shutdown();

  CorvenzaEnterprise() = delete;
};

/// The shared instance: the state the library keeps between calls. It is one
/// client, built by initialize, with the state and operations of an
/// EstimationClient (see <corvenza/estimation_client.h>).
///
/// Its state is guarded by a lock, so it may be read from any thread; the
/// library's own callbacks run on the main queue.
class CorvenzaEnterprise::Instance {
 public:
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;
  ~Instance();

  /// See CorvenzaEnterprise::initialize.
  void initialize(std::shared_ptr<CorvenzaTokenProvider> tokenProvider);

  /// Reads "corvenza-config.json" from the bundle into the fields below.
  /// @throws CorvenzaException with code 1997 when the file is missing, and
  ///         also, after printing "Error: cannot read config json" or "Error:
  ///         cannot decode config json", when it is unreadable (not a regular
  ///         file, over 1 MiB) or malformed; the fields are then unchanged.
  void loadConfig();
  /// Builds the identity and object-storage clients (start-up only).
  void initializeAWS();
  /// Builds the GraphQL client (start-up only).
  void initializeAppSync();

  /// See CorvenzaEnterprise::createEstimationRequest.
  void createEstimationRequest(const EstimationParameter& estimationParameter,
                               RequestCallback callback = {});
  /// See CorvenzaEnterprise::getEstimationRequest.
  void getEstimationRequest(const std::string& id, RequestCallback callback = {});
  /// See CorvenzaEnterprise::listEstimationRequests.
  void listEstimationRequests(std::optional<int> limit = std::nullopt,
                              std::optional<std::string> nextToken = std::nullopt,
                              ListCallback callback = {});
  /// See CorvenzaEnterprise::updateEstimationRequest.
  void updateEstimationRequest(const std::string& id,
                               const EstimationParameter& estimationParameter,
                               RequestCallback callback = {});
  /// See CorvenzaEnterprise::deleteEstimationRequest.
  void deleteEstimationRequest(const std::string& id, RequestCallback callback = {});

  /// See CorvenzaEnterprise::subscribeCreationOfEstimationRequests. The
  /// instance-level operations do not ask the token provider to refresh.
  void subscribeCreationOfEstimationRequests(RequestCallback callback, const std::string& name);
  void subscribeUpdateOfEstimationRequests(RequestCallback callback,
                                           const std::string& name = "default");
  void subscribeDeletionOfEstimationRequesets(RequestCallback callback,
                                              const std::string& name = "default");
  /// See CorvenzaEnterprise::unsubscribeCreationOfEstimationRequests.
  void unsubscribeCreationOfEstimationRequests(const std::string& name = "default");
  void unsubscribeUpdationOfEstimationRequests(const std::string& name = "default");
  void unsubscribeDeletionOfEstimationRequests(const std::string& name = "default");
  /// See CorvenzaEnterprise::unsubscribeEstimationRequests.
  void unsubscribeEstimationRequests(const std::string& name = "default");
  /// See CorvenzaEnterprise::unsubscribeAll.
  void unsubscribeAll();

  /// Returns false at once and never calls @p completion.
  bool getEstimationImageURL(const std::string& requestId, EstimationImageType dir,
                             std::function<void(std::optional<std::string> url)> completion);

  /// File name of the GraphQL client's cache database: "CorvenzaEnterprise".
  std::string databaseName() const;
  /// The cache database: databaseName() in a folder of this OS user's alone
  /// ($CORVENZA_CACHE_DIR, else $XDG_CACHE_HOME/corvenza, else
  /// ~/.cache/corvenza). It holds only the signed-in identity's records.
  std::filesystem::path databaseURL() const;
  std::string graphQLEndpoint() const;
  std::string cognitoIDPoolID() const;
  AWSRegionType graphQLRegion() const;
  AWSRegionType cognitoIDPoolRegion() const;
  std::string imageBucketRegion() const;
  std::string imageBucketName() const;
  std::string encryptionKey() const;
  bool initialized() const;
  std::shared_ptr<CorvenzaTokenProvider> tokenProvider() const;

  /// The progress listener, held strongly.
  std::shared_ptr<CorvenzaEnterpriseDelegate> delegate() const;
  void setDelegate(std::shared_ptr<CorvenzaEnterpriseDelegate> delegate);
  /// The stage reached by the request being created.
  EstimationProgressType estimationProgress() const;
  /// Hears the real-time connection's state (connecting, connected,
  /// reconnecting with the attempt and its delay, disconnected), on the main
  /// queue; an empty one stops. The connection carries every subscription:
  /// while it is down no event arrives, and once it is back the changes made
  /// in between are delivered before any later event, each once. The cost:
  /// one list of the user's requests in pages of 100 and a read of each, four
  /// at once, when the subscriptions start and after each reconnection, and a
  /// read of the request after each event.
  void setConnectionStateListener(ConnectionStateListener listener);
  /// Seconds allowed for each network step of a creation: 45.
  double estimationTimeOutSec() const;

  /// Internal state; not for applications.
  using Impl = requests::ClientState;
  Impl& impl() { return *state_; }

 private:
  friend class CorvenzaEnterprise;
  friend void detail::resetSharedInstanceForTesting();
  Instance();
  std::shared_ptr<requests::ClientState> state_;
};

}  // namespace corvenza
