#pragma once
// What the server routes requests to. Each cloud service the emulator plays
// (authentication, identity, storage, GraphQL, ...) is one Service mounted at
// a path prefix.

#include <functional>
#include <string_view>

#include "base/http_message.h"

namespace corvenza::emulator {

class Service {
 public:
  using Responder = std::function<void(Response)>;

  virtual ~Service() = default;

  /// Short name for log lines.
  virtual std::string_view name() const = 0;

  /// Answers @p request. Runs on one of the server's threads; may run on
  /// several at once for different requests.
  virtual Response handle(const Request& request) = 0;

  /// Answers @p request through @p respond, exactly once. The default answers
  /// at once with handle(); a service that has to wait (a delayed answer, an
  /// estimator) overrides it and must respond before the server stops.
  virtual void handleAsync(Request request, Responder respond) { respond(handle(request)); }
};

}  // namespace corvenza::emulator
