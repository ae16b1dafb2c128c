#pragma once
// Retries around any HttpTransport: transient failures (connection errors,
// time-outs, 5xx, throttling) are tried again after the library's one
// backoff (core/backoff.h); a request refused for a skewed clock is retried at once
// after the clock offset has been corrected. Each attempt goes through the
// prepare hook first, so that it is signed afresh with current credentials
// and the corrected time.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/http/http_transport.h"

namespace corvenza::http {

/// Turns the caller's request into the one sent for one attempt (signing).
/// Must call its callback exactly once, on any thread.
using PrepareHook =
    std::function<void(HttpRequest, std::function<void(detail::Result<HttpRequest>)>)>;

/// Runs work after a delay, never inline; the returned handle keeps it from running.
using Scheduler = std::function<std::shared_ptr<Cancellable>(std::chrono::milliseconds delay,
                                                             std::function<void()> work)>;

/// Given the headers of a response refused for clock skew, adopts the
/// server's time; returns true when the offset changed (a retry can succeed).
using SkewSink = std::function<bool(const HttpHeaders& responseHeaders)>;
/// Given the access key id of credentials the service refused as unknown or
/// expired, forgets them; returns true when another attempt can be signed
/// with others.
using RefusedCredentialsSink = std::function<bool(const std::string& accessKeyId)>;

struct RetryOptions {
  /// Attempts in total, the first included.
  int maxAttempts = 3;
  std::chrono::milliseconds baseDelay{1000};
  std::chrono::milliseconds maxDelay{20'000};
  /// Signs each attempt; none sends the request as given.
  PrepareHook prepare;
  /// A number in [0, 1); defaults to a uniform generator.
  std::function<double()> random;
  /// Defaults to a timer thread owned by the library.
  Scheduler scheduler;
  /// Without one, a refusal for clock skew is final (signed requests pass
  /// the clock their signer corrects).
  SkewSink skew;
  /// Without one, refused credentials are final. With one, a request they
  /// signed is signed afresh and sent once more at once: the service refused
  /// it before handling it, so even a creation is never made twice.
  RefusedCredentialsSink refusedCredentials;
};

/// The service error code of a response: JSON "__type" or "code", XML
/// <Code>, or the x-amzn-ErrorType header; namespace prefixes and ":" suffixes
/// removed. Empty when there is none.
std::string serviceErrorCode(const HttpResponse& response);

/// Whether @p code names throttling or another transient service condition.
bool isTransientErrorCode(const std::string& code);
/// Whether @p code says the request's signing time was refused.
bool isClockSkewErrorCode(const std::string& code);
/// Whether @p code says the credentials that signed the request are unknown
/// to the service or expired.
bool isRefusedCredentialsErrorCode(const std::string& code);
/// The access key id in a signed request's Authorization header, or "".
std::string signingAccessKeyId(const HttpRequest& request);

class RetryingTransport final : public HttpTransport {
 public:
  RetryingTransport(std::shared_ptr<HttpTransport> inner, RetryOptions options = {});

  /// As HttpTransport::send. @p done runs once with the outcome of the last
  /// attempt, on the inner transport's thread or the scheduler's, never inline.
  /// Cancelling stops the current attempt and any pending retry.
  std::shared_ptr<Cancellable> send(HttpRequest request, ResponseCallback done,
                                    ProgressCallback progress = {}) override;

  /// The backoff before retry number @p retry (1 for the first retry).
  std::chrono::milliseconds backoff(int retry) const;

 private:
  class Operation;
  struct Shared;
  std::shared_ptr<const Shared> shared_;
};

/// The library's own retry timer (one thread, created on first use).
Scheduler defaultRetryScheduler();
/// Joins the retry timer's thread. Pending retries are dropped and their
/// callers never hear back, so call it only when nothing is in flight (tests,
/// tools about to exit). A later retry starts the timer again.
void shutdownRetryScheduler();

}  // namespace corvenza::http
