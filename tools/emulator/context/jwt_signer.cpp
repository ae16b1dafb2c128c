#include "context/jwt_signer.h"

#include <utility>

#include "base/bounded_json.h"
#include "platform/encoding/base64.h"
#include "platform/sigv4/crypto.h"

namespace corvenza::emulator {
namespace {

Error jwtError(int code, std::string description) {
  return Error(kJwtErrorDomain, code, std::nullopt, std::move(description));
}

}  // namespace

JwtSigner::JwtSigner(std::string secret, std::string issuer, std::string audience)
    : secret_(std::move(secret)), issuer_(std::move(issuer)), audience_(std::move(audience)) {}

std::string JwtSigner::sign(const std::string& subject, std::int64_t issuedAt,
                            std::int64_t durationSeconds) const {
  const nlohmann::json header = {{"alg", "HS256"}, {"typ", "JWT"}, {"kid", "corvenza-emulator"}};
  const nlohmann::json claims = {{"iss", issuer_},
                                 {"sub", subject},
                                 {"aud", audience_},
                                 {"iat", issuedAt},
                                 {"exp", issuedAt + durationSeconds}};
  const auto signingInput =
      encoding::base64UrlEncode(header.dump()) + "." + encoding::base64UrlEncode(claims.dump());
  return signingInput + "." + encoding::base64UrlEncode(sigv4::hmacSha256(secret_, signingInput));
}

detail::Result<nlohmann::json> JwtSigner::verify(std::string_view token,
                                                 std::int64_t nowSeconds) const {
  const auto firstDot = token.find('.');
  const auto secondDot =
      firstDot == std::string_view::npos ? firstDot : token.find('.', firstDot + 1);
  if (secondDot == std::string_view::npos || token.find('.', secondDot + 1) != token.npos) {
    return jwtError(kJwtMalformed, "the token does not have three parts");
  }
  const auto headerText = encoding::base64UrlDecode(token.substr(0, firstDot));
  const auto claimsText =
      encoding::base64UrlDecode(token.substr(firstDot + 1, secondDot - firstDot - 1));
  const auto signature = encoding::base64UrlDecode(token.substr(secondDot + 1));
  if (!headerText || !claimsText || !signature) {
    return jwtError(kJwtMalformed, "a part of the token is not base64url");
  }
  const auto header = parseBoundedJson(*headerText);
  auto claims = parseBoundedJson(*claimsText);
  if (!header.is_object() || !claims.is_object()) {
    return jwtError(kJwtMalformed, "the token's header or claims are not a JSON object");
  }
  // Only our own algorithm: accepting "none" or another one would let anyone mint tokens.
  const auto alg = header.find("alg");
  if (alg == header.end() || !alg->is_string() || *alg != "HS256") {
    return jwtError(kJwtBadAlgorithm, "the token is not signed with HS256");
  }
  const auto expected = sigv4::hmacSha256(secret_, token.substr(0, secondDot));
  if (!sigv4::constantTimeEquals(expected, *signature)) {
    return jwtError(kJwtBadSignature, "the token's signature does not verify");
  }
  const auto iss = claims.find("iss");
  if (iss == claims.end() || !iss->is_string() || *iss != issuer_) {
    return jwtError(kJwtWrongIssuer, "the token was issued by someone else");
  }
  const auto aud = claims.find("aud");
  if (aud == claims.end() || !aud->is_string() || *aud != audience_) {
    return jwtError(kJwtWrongAudience, "the token is meant for another identity pool");
  }
  const auto sub = claims.find("sub");
  if (sub == claims.end() || !sub->is_string()) {
    return jwtError(kJwtMalformed, "the token has no subject");
  }
  const auto exp = claims.find("exp");
  if (exp == claims.end() || !exp->is_number()) {
    return jwtError(kJwtMalformed, "the token has no expiry");
  }
  if (exp->get<double>() <= static_cast<double>(nowSeconds)) {
    return jwtError(kJwtExpired, "the token has expired");
  }
  return claims;
}

}  // namespace corvenza::emulator
