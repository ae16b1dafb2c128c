#pragma once
// Decoding of JSON Web Tokens (payload only; the signature is the issuer's
// business). Malformed input is an error, never a crash.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "core/result.h"

namespace corvenza::device {

struct DecodedJwt {
  /// The payload's JSON text, decoded from base64url.
  std::string payloadJson;
  /// The "exp" claim, when present and numeric.
  std::optional<std::chrono::system_clock::time_point> expiresAt;

  /// A string claim of the payload, or nothing when absent or not a string.
  std::optional<std::string> stringClaim(std::string_view name) const;
  /// True when the token has an expiry that lies before @p now.
  bool isExpired(
      std::chrono::system_clock::time_point now = std::chrono::system_clock::now()) const;
};

/// Decodes header.payload.signature. Fails (domain "CorvenzaJWTError") when
/// there are not three parts, a part is not base64url, or the header or
/// payload is not a JSON object. The error never quotes the token.
detail::Result<DecodedJwt> decodeJwt(std::string_view token);

}  // namespace corvenza::device
