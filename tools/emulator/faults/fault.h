#pragma once
// An injected fault: which requests it catches (a route, and optionally a
// GraphQL root field, identity operation or HTTP method) and what the
// emulator does to them instead of, or after, serving them.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvenza::emulator::faults {

enum class Route { Auth, Identity, GraphQL, Storage, Realtime };

enum class Action {
  Fail,       ///< answer with a status and body
  Drop,       ///< close the connection without an answer
  Malformed,  ///< answer with a body that is not JSON
  Stall,      ///< only wait, then serve as usual; without a delay, wait forever
};

/// Before: the fault acts instead of the service, which never sees the
/// request (a Stall with a delay passes it on afterwards). After: the
/// service handles the request (a mutation is applied) and the fault acts
/// on the answer instead of delivering it.
enum class Timing { Before, After };

struct Fault {
  Route route = Route::GraphQL;
  /// GraphQL root field, real-time subscription field or identity operation;
  /// empty matches any request of the route (for real-time: the connection).
  std::string field;
  /// Upper-case HTTP method; empty matches any.
  std::string method;
  Action action = Action::Fail;
  Timing when = Timing::Before;
  /// Fail and Malformed: the status answered.
  int status = 500;
  /// Fail and Malformed: the body answered, verbatim; nothing: a default.
  std::optional<std::string> body;
  std::string contentType = "application/json";
  /// How long to wait before acting. A Stall without one waits forever (until
  /// the client gives up).
  std::optional<std::chrono::milliseconds> delay;
  /// How many requests it catches; nothing: every one.
  std::optional<int> times = 1;
};

/// What a fault is matched against: one HTTP request, a real-time connection
/// being opened (no fields) or a real-time subscription start (its field).
struct FaultPoint {
  Route route = Route::GraphQL;
  std::string method;
  std::vector<std::string> fields;
  /// A real-time subscription start rather than the connection.
  bool subscription = false;
};

/// Whether @p fault catches @p point.
bool matches(const Fault& fault, const FaultPoint& point);

std::string_view routeName(Route route);
std::string_view actionName(Action action);

}  // namespace corvenza::emulator::faults
