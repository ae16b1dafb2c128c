#pragma once
// HS256 JSON Web Tokens issued by the authentication service and checked by
// the identity service.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "core/result.h"

namespace corvenza::emulator {

/// Domain of token verification failures; the description says why, never
/// quoting the token.
inline constexpr const char* kJwtErrorDomain = "EmulatorJwtError";

enum JwtErrorCode : int {
  kJwtMalformed = 1,
  kJwtBadAlgorithm = 2,
  kJwtBadSignature = 3,
  kJwtExpired = 4,
  kJwtWrongIssuer = 5,
  kJwtWrongAudience = 6,
};

class JwtSigner {
 public:
  /// @p secret is the HMAC key; @p issuer and @p audience are written into
  /// every token and required of every token verified.
  JwtSigner(std::string secret, std::string issuer, std::string audience);

  /// A token for @p subject valid from @p issuedAt (epoch seconds) for
  /// @p durationSeconds.
  std::string sign(const std::string& subject, std::int64_t issuedAt,
                   std::int64_t durationSeconds) const;

  /// Checks the algorithm, signature, issuer, audience and that "exp" lies
  /// after @p nowSeconds; returns the claims.
  detail::Result<nlohmann::json> verify(std::string_view token, std::int64_t nowSeconds) const;

  const std::string& issuer() const { return issuer_; }
  const std::string& audience() const { return audience_; }

 private:
  std::string secret_;
  std::string issuer_;
  std::string audience_;
};

}  // namespace corvenza::emulator
