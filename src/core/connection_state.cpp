#include <corvenza/connection_state.h>

namespace corvenza {

std::string_view toString(RealtimeConnectionState::Phase phase) {
  switch (phase) {
    case RealtimeConnectionState::Phase::connecting:
      return "connecting";
    case RealtimeConnectionState::Phase::connected:
      return "connected";
    case RealtimeConnectionState::Phase::reconnecting:
      return "reconnecting";
    case RealtimeConnectionState::Phase::disconnected:
      break;
  }
  return "disconnected";
}

}  // namespace corvenza
