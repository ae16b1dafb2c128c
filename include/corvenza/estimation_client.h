#pragma once
/// @file
/// EstimationClient: everything one signed-in user needs, as an object an
/// application may make as many of as it serves users.
///
///     corvenza::EstimationClientOptions options;
///     options.tokenProvider = aliceTokens;         // Alice's DirectTokenProvider
///     options.cacheDirectory = "/var/cache/app/alice";
///     auto alice = corvenza::EstimationClient::create(options);
///     alice->createEstimationRequest(parameter, [](auto request, auto errors) { ... });
///
/// Each client has its own identity bridge, credentials, GraphQL client and
/// offline cache, real-time connection, transfer utility, creations and
/// subscriptions: no record, token, listener or progress of one client ever
/// reaches another. What the clients of a process share is what they are
/// handed: the HTTP transport's thread and the main queue (by default the
/// process's own, as for the facade).
///
/// The operations have the callback shapes and guarantees of the facade's
/// (see <corvenza/enterprise.h>): each callback runs once, on the client's
/// main queue, never inline. Every member is thread-safe. Hold the client in
/// the std::shared_ptr that create() hands back; operations in flight keep
/// what they need alive, and dropping the client ends its subscriptions.

#include <corvenza/config.h>
#include <corvenza/connection_state.h>
#include <corvenza/main_queue.h>
#include <corvenza/request_callbacks.h>
#include <corvenza/token.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace corvenza {

namespace http {
class HttpTransport;
}
namespace requests {
struct ClientState;
}

struct EstimationClientOptions {
  /// The service's settings. When absent, "corvenza-config.json" is read from
  /// configurationDirectory, or from the application bundle when that is empty.
  std::optional<CorvenzaConfig> configuration;
  std::filesystem::path configurationDirectory;

  /// Hands out the signed-in user's token; required. It also decides where
  /// that token is kept (see DefaultTokenProvider).
  std::shared_ptr<CorvenzaTokenProvider> tokenProvider;

  /// Where every callback runs; the process's default main queue (the one
  /// CorvenzaEnterprise::mainQueue() answers) when absent.
  std::shared_ptr<MainQueue> mainQueue;

  /// The folder of the offline cache, made private (0700) when missing. Give
  /// each client a folder of its own: a cache file holds one identity's
  /// records at a time. When empty the cache is kept in memory only.
  std::filesystem::path cacheDirectory;

  /// A PEM file of the certificate authorities that every connection of this
  /// client (HTTPS and WebSocket) trusts instead of the system store: a
  /// private CA, or a TLS-inspecting gateway's. When empty, the file the
  /// AWS_CA_BUNDLE variable names, else the system store. A server whose
  /// certificate does not verify is never talked to. The token provider's own
  /// requests follow the process's setting instead
  /// (CorvenzaEnterprise::setConnectionSettings) or its Environment's transport.
  std::filesystem::path caBundle;

  /// The HTTP proxy every connection of this client goes through
  /// ("http://[user:password@]host[:port]"; the WebSocket tunnels with
  /// CONNECT). When empty, the usual variables: https_proxy or HTTPS_PROXY
  /// (http_proxy for plain http), else all_proxy; no_proxy or NO_PROXY names
  /// the hosts reached directly, for this setting too.
  std::string proxy;

  /// The HTTP transport under signing and retries: the library's shared
  /// libcurl transport when absent. For tests and embedders with transports
  /// of their own (an internal interface).
  std::shared_ptr<http::HttpTransport> transport;
};

class EstimationClient {
 public:
  /// Reads the configuration (unless given) and builds the cloud clients. Sends nothing.
  /// @throws CorvenzaException with code 1997 (`configNotFound`) when the
  ///         configuration is missing or cannot be read or decoded (user
  ///         information "detail" says why), and with code 2000 and a detail
  ///         when no token provider is given or a client cannot be built.
  static std::shared_ptr<EstimationClient> create(EstimationClientOptions options);

  EstimationClient(const EstimationClient&) = delete;
  EstimationClient& operator=(const EstimationClient&) = delete;
  /// Ends this client's subscriptions. Operations in flight still answer.
  ~EstimationClient();

  /// See CorvenzaEnterprise::createEstimationRequest.
  void createEstimationRequest(const EstimationParameter& parameter, RequestCallback callback = {});
  /// See CorvenzaEnterprise::getEstimationRequest.
  void getEstimationRequest(const std::string& id, RequestCallback callback = {});
  /// See CorvenzaEnterprise::listEstimationRequests.
  void listEstimationRequests(std::optional<int> limit = std::nullopt,
                              std::optional<std::string> nextToken = std::nullopt,
                              ListCallback callback = {});
  /// See CorvenzaEnterprise::updateEstimationRequest: after a time-out
  /// (code 1995) the change may still have been applied.
  void updateEstimationRequest(const std::string& id, const EstimationParameter& parameter,
                               RequestCallback callback = {});
  /// See CorvenzaEnterprise::deleteEstimationRequest: after a time-out
  /// (code 1995) the request may still have been deleted.
  void deleteEstimationRequest(const std::string& id, RequestCallback callback = {});

  /// Listens to this client's user's requests being created, updated or
  /// deleted, under @p name; see
  /// CorvenzaEnterprise::subscribeCreationOfEstimationRequests (a
  /// DefaultTokenProvider is asked to ensure a token first).
  void subscribe(EstimationEventKind kind, RequestCallback callback,
                 const std::string& name = "default");
  /// Removes the listener under @p name from @p kind; the last one ends the
  /// kind's subscription.
  void unsubscribe(EstimationEventKind kind, const std::string& name = "default");
  /// Removes every listener and ends every subscription.
  void unsubscribeAll();

  /// Signs this client's user out: forgets the credentials and identity,
  /// clears a DefaultTokenProvider's token and empties the offline cache.
  /// Other clients are untouched.
  void signOut();

  /// The progress listener of this client's creations, held strongly.
  std::shared_ptr<CorvenzaEnterpriseDelegate> delegate() const;
  void setDelegate(std::shared_ptr<CorvenzaEnterpriseDelegate> delegate);
  /// The stage reached by this client's latest creation.
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

  std::shared_ptr<CorvenzaTokenProvider> tokenProvider() const;
  /// The GraphQL service this client talks to (from its configuration).
  std::string graphQLEndpoint() const;
  /// The queue this client's callbacks run on.
  std::shared_ptr<MainQueue> mainQueue() const;

  /// Internal state; not for applications.
  requests::ClientState& state() { return *state_; }

 private:
  friend class CorvenzaEnterprise;
  EstimationClient(std::shared_ptr<requests::ClientState> state, bool ownsSubscriptions);

  std::shared_ptr<requests::ClientState> state_;
  // A client made by create() ends its subscriptions when dropped; the
  // facade's view of its shared instance leaves them to the facade.
  bool ownsSubscriptions_;
};

}  // namespace corvenza
