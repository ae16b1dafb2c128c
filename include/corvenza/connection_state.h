#pragma once
/// @file
/// The state of a client's real-time connection, the one connection that
/// carries all its subscriptions, as the application hears it.

#include <corvenza/error.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string_view>

namespace corvenza {

struct RealtimeConnectionState {
  enum class Phase {
    connecting,    ///< the first connection is being opened
    connected,     ///< the service accepted the connection; events flow
    reconnecting,  ///< the connection ended; another attempt follows
    disconnected,  ///< closed, and not reopened: no subscription is left
  };
  Phase phase = Phase::disconnected;
  /// reconnecting: the attempt about to be made, 1 for the first after a drop.
  int attempt = 0;
  /// reconnecting: how long until that attempt.
  std::chrono::milliseconds nextDelay{0};
  /// reconnecting and disconnected: why the connection ended, when it failed.
  std::optional<Error> error;
};

/// "connecting", "connected", "reconnecting" or "disconnected".
std::string_view toString(RealtimeConnectionState::Phase phase);

/// Hears each change of the connection's state, on the main queue. While it
/// is not connected no event arrives; once it is back, what changed in the
/// meantime is delivered to the listeners before any later event.
using ConnectionStateListener = std::function<void(const RealtimeConnectionState& state)>;

}  // namespace corvenza
