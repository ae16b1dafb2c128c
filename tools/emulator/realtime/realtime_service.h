#pragma once
// The real-time service: GraphQL subscriptions over WebSocket at
// "/graphql/realtime", signed like the GraphQL endpoint, fed by the
// estimation store's change events.

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "emulator_context.h"
#include "service.h"

namespace corvenza::emulator {

struct WebSocketUpgrade;
namespace gql {
class EstimationBackend;
}

class RealtimeService {
 public:
  /// @p context and @p backend must outlive the service. A "ka" goes to every
  /// acknowledged connection each @p keepAlive; a connection not acknowledged
  /// within @p initTimeout of opening is closed.
  RealtimeService(EmulatorContext& context, gql::EstimationBackend& backend,
                  std::chrono::milliseconds keepAlive, std::chrono::milliseconds initTimeout);
  ~RealtimeService();
  RealtimeService(const RealtimeService&) = delete;
  RealtimeService& operator=(const RealtimeService&) = delete;

  /// Takes over an upgraded connection. Runs on a server thread.
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
