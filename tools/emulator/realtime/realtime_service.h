#pragma once
// The real-time service: GraphQL subscriptions over WebSocket at
// "/graphql/realtime", signed like the GraphQL endpoint, fed by the
// estimation store's change events.

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "base/service.h"
#include "context/emulator_context.h"

namespace corvenza::emulator {

struct WebSocketUpgrade;
namespace gql {
class EstimationBackend;
}

class RealtimeService {
 public:
  /// Largest message read before connection_ack: a connection_init is tiny,
  /// and an unauthenticated client has proved nothing yet.
  static constexpr std::size_t kUnacknowledgedMessageLimit = 16 * 1024;
  /// Largest message read from an acknowledged connection: a start with its
  /// signed headers and subscription document is a few kilobytes.
  static constexpr std::size_t kMessageLimit = 256 * 1024;
  /// Open connections one peer address may hold; the library shares one per
  /// client, so this leaves room for many clients and test suites on one machine.
  static constexpr std::size_t kMaxConnectionsPerPeer = 64;

  /// @p context and @p backend must outlive the service. A "ka" goes to every
  /// acknowledged connection each @p keepAlive; a connection not acknowledged
  /// within @p initTimeout of opening is closed.
  RealtimeService(EmulatorContext& context, gql::EstimationBackend& backend,
                  std::chrono::milliseconds keepAlive, std::chrono::milliseconds initTimeout);
  ~RealtimeService();
  RealtimeService(const RealtimeService&) = delete;
  RealtimeService& operator=(const RealtimeService&) = delete;

  /// Takes over an upgraded connection, or answers it 429 when its peer
  /// address already holds kMaxConnectionsPerPeer. Runs on a server thread.
  void accept(std::unique_ptr<WebSocketUpgrade> upgrade);

  /// accept() as the HTTP server's upgrade handler.
  std::function<void(std::unique_ptr<WebSocketUpgrade>)> upgradeHandler();

  /// Closes every open connection (clients are expected to reconnect).
  void dropConnections();

  /// Answers POST at its mount point by dropping every connection.
  std::shared_ptr<Service> dropControl();

  struct Connection;

 private:
  EmulatorContext& context_;
  gql::EstimationBackend& backend_;
  const std::chrono::milliseconds keepAlive_;
  const std::chrono::milliseconds initTimeout_;
  int listener_ = -1;
  std::mutex mutex_;
  std::vector<std::weak_ptr<Connection>> connections_;
};

}  // namespace corvenza::emulator
