#pragma once
// The real-time side of the GraphQL client: subscriptions over one shared
// WebSocket connection, signed with the cloud credentials.

#include <corvenza/connection_state.h>
#include <corvenza/main_queue.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "core/result.h"
#include "platform/appsync/realtime/subscription_watcher.h"
#include "platform/identity/credentials_source.h"
#include "platform/sigv4/clock_skew.h"

namespace corvenza::appsync {

struct RealtimeConfiguration {
  /// The GraphQL endpoint (https or http); the socket URL is derived from it.
  std::string endpointURL;
  /// Region the service signs in.
  std::string region;
  std::shared_ptr<identity::CredentialsSource> credentials;
  /// The certificate authorities wss:// trusts (see http::trustedAuthorities).
  std::filesystem::path caFile;
  /// The proxy the socket tunnels through (see http::proxyFor); when empty,
  /// the one the environment names for wss, if any.
  std::string proxy;
  /// The correction of the clock the handshake is signed with; the system
  /// clock as it is when absent.
  std::shared_ptr<sigv4::ClockSkew> skew;
  /// Limits for the service's connection_ack and each start_ack.
  std::chrono::milliseconds ackTimeout{15'000};
  /// First reconnection delay and its cap; each wait is jittered.
  std::chrono::milliseconds reconnectBase{500};
  std::chrono::milliseconds reconnectCap{30'000};
  /// Told of each change of the connection's state, on the queue of the
  /// latest subscription.
  std::function<void(RealtimeConnectionState)> onState;
};

class RealtimeClient {
 public:
  virtual ~RealtimeClient() = default;
  /// Registers a subscription and starts it on the shared connection (opening
  /// it when needed). Messages go to @p handler on @p queue, and each
  /// acknowledged start to @p started. Fails at once only for a request that
  /// cannot be sent. Thread-safe.
  virtual detail::Result<std::shared_ptr<SubscriptionWatcher>> subscribe(
      GraphQLRequest request, std::shared_ptr<MainQueue> queue, SubscriptionHandler handler,
      SubscriptionStarted started = {}) = 0;
};

/// The client over a Boost.Beast WebSocket (TLS for wss). Owns one thread.
detail::Result<std::shared_ptr<RealtimeClient>> makeRealtimeClient(RealtimeConfiguration config);

}  // namespace corvenza::appsync
