#pragma once
// The text/event-stream format: fields one per line, a blank line ends an event.

#include <chrono>
#include <string>
#include <string_view>

namespace corvenza::emulator::dashboard {

struct ServerSentEvent {
  /// Sent as "id:"; the browser returns it as Last-Event-ID when it reconnects.
  std::string id;
  /// Sent as "event:"; empty for the default "message".
  std::string type;
  /// Sent as one "data:" line per line of text.
  std::string data;
};

/// One event, ending with the blank line that dispatches it. Line breaks in
/// @p event.data become separate data lines (the browser joins them with
/// "\n" again); line breaks in the id or type, which would start a field of
/// their own, are dropped.
std::string formatEvent(const ServerSentEvent& event);

/// "retry:" block: how long the browser waits before it reconnects.
std::string formatRetry(std::chrono::milliseconds delay);

/// An id-only block: moves the browser's Last-Event-ID without an event.
std::string formatPosition(std::string_view id);

}  // namespace corvenza::emulator::dashboard
