#pragma once
// The HTTP transport: one small interface, libcurl behind it by default, a
// fake in tests. Signing and retries wrap it as separate layers.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/result.h"
#include "platform/http/http_types.h"

namespace corvenza::http {

/// Domain of transport failures (no HTTP response at all). A 4xx or 5xx is a
/// response, never a transport error.
inline constexpr const char* kTransportErrorDomain = "CorvenzaTransportError";

/// Codes of kTransportErrorDomain.
enum TransportErrorCode : int {
  kTransportUnknown = -1,
  kTransportCancelled = -999,
  kTransportBadURL = -1000,
  kTransportTimedOut = -1001,
  kTransportCannotFindHost = -1003,
  kTransportCannotConnect = -1004,
  kTransportConnectionLost = -1005,
  kTransportTLSFailure = -1200,
  kTransportFileError = -3000,
};

/// Makes a transport error whose description says what happened, never a secret.
Error makeTransportError(int code, std::string description);

/// scheme://host/path of @p url: no user information, query or fragment, so
/// that a presigned signature never reaches a log line or an error text.
std::string redactedUrl(std::string_view url);

struct TransferProgress {
  std::uint64_t bytesSent = 0;
  std::uint64_t bytesExpectedToSend = 0;
  std::uint64_t bytesReceived = 0;
  std::uint64_t bytesExpectedToReceive = 0;
};

using ResponseCallback = std::function<void(detail::Result<HttpResponse>)>;
using ProgressCallback = std::function<void(const TransferProgress&)>;

/// A started operation that can be stopped.
class Cancellable {
 public:
  virtual ~Cancellable() = default;
  /// Stops the operation (removes the transfer, closes the socket). Safe to
  /// call more than once and from any thread.
  virtual void cancel() = 0;
};

class HttpTransport {
 public:
  virtual ~HttpTransport() = default;

  /// Sends @p request. @p done runs exactly once, on the transport's own
  /// thread and never inline from send(): with the response (any status), or
  /// with a transport error; after cancel() with a kTransportCancelled error
  /// unless it had already run. @p progress, when given, runs on the same
  /// thread as data moves.
  virtual std::shared_ptr<Cancellable> send(HttpRequest request, ResponseCallback done,
                                            ProgressCallback progress = {}) = 0;
};

/// The process-wide libcurl transport (one multi handle on a thread the
/// library owns). Created on first use.
std::shared_ptr<HttpTransport> sharedTransport();

}  // namespace corvenza::http
