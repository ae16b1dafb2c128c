#pragma once
// Corrects signing times for a device clock that is off: when a service
// rejects a request as skewed, its own clock becomes the reference.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/http/http_types.h"

namespace corvenza::sigv4 {

/// Parses an HTTP date (the Date header): the preferred
/// "Sun, 06 Nov 1994 08:49:37 GMT" and the two obsolete forms
/// "Sunday, 06-Nov-94 08:49:37 GMT" and "Sun Nov  6 08:49:37 1994".
std::optional<std::chrono::system_clock::time_point> parseHttpDate(std::string_view text);

/// A thread-safe offset, in whole seconds, between the service's clock and
/// this device's. Every signer (requests, presigned links, the real-time
/// handshake) and every credential-expiry check should take its time from
/// `now()`.
class ClockSkew {
 public:
  using TimeSource = std::function<std::chrono::system_clock::time_point()>;

  /// Corrections smaller than this are noise (network latency, rounding).
  static constexpr std::chrono::minutes kThreshold{4};

  /// @p systemNow is the uncorrected clock; tests pass a fixed one.
  explicit ClockSkew(TimeSource systemNow = [] { return std::chrono::system_clock::now(); });

  /// The system time plus the current offset.
  std::chrono::system_clock::time_point now() const;
  std::chrono::seconds offset() const;

  /// Adopts @p serverTime as the reference when it differs from `now()` by
  /// at least kThreshold. Returns true when the offset changed, so the caller
  /// knows a retry with a fresh signature can succeed.
  bool update(std::chrono::system_clock::time_point serverTime);
  /// As update(), with the time taken from X-Amz-Date or else Date of a
  /// response; false when neither header holds a readable time.
  bool updateFromHeaders(const http::HttpHeaders& headers);
  void reset();

 private:
  TimeSource systemNow_;
  std::atomic<std::int64_t> offsetSeconds_{0};
};

/// The process-wide correction shared by every client of the library.
std::shared_ptr<ClockSkew> sharedClockSkew();

}  // namespace corvenza::sigv4
