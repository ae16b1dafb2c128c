#include "platform/device/jwt_decoder.h"

#include <array>
#include <cmath>
#include <nlohmann/json.hpp>

#include "platform/encoding/base64.h"

namespace corvenza::device {

namespace {

constexpr const char* kDomain = "CorvenzaJWTError";

enum class JwtErrorCode { wrongPartCount = 1, invalidBase64 = 2, invalidJson = 3 };

Error jwtError(JwtErrorCode code, std::string description) {
  return Error(kDomain, static_cast<int>(code), std::nullopt, std::move(description));
}

std::optional<nlohmann::json> parseObject(std::string_view text) {
  auto json = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (json.is_discarded() || !json.is_object()) return std::nullopt;
  return json;
}

std::optional<std::chrono::system_clock::time_point> expiryOf(const nlohmann::json& payload) {
  const auto exp = payload.find("exp");
  if (exp == payload.end() || !exp->is_number()) return std::nullopt;
  const double seconds = exp->get<double>();
  if (!std::isfinite(seconds)) return std::nullopt;
  using Clock = std::chrono::system_clock;
  // Beyond what the clock can hold (about 292 years either way): saturate.
  const double limit = std::chrono::duration<double>(Clock::duration::max()).count() * 0.999;
  if (seconds >= limit) return Clock::time_point::max();
  if (seconds <= -limit) return Clock::time_point::min();
  // Whole and fractional seconds apart: a double holds only ~256 ns at this magnitude.
  const double whole = std::floor(seconds);
  const auto fraction = std::chrono::nanoseconds(std::llround((seconds - whole) * 1e9));
  return Clock::time_point(std::chrono::duration_cast<Clock::duration>(
      std::chrono::seconds(static_cast<std::int64_t>(whole)) + fraction));
}

}  // namespace

std::optional<std::string> DecodedJwt::stringClaim(std::string_view name) const {
  const auto payload = parseObject(payloadJson);
  if (!payload) return std::nullopt;
  const auto claim = payload->find(name);
  if (claim == payload->end() || !claim->is_string()) return std::nullopt;
  return claim->get<std::string>();
}

bool DecodedJwt::isExpired(std::chrono::system_clock::time_point now) const {
  return expiresAt && *expiresAt < now;
}

detail::Result<DecodedJwt> decodeJwt(std::string_view token) {
  std::array<std::string_view, 3> parts;
  size_t count = 0;
  size_t start = 0;
  for (;;) {
    const auto dot = token.find('.', start);
    if (count == parts.size()) {
      return jwtError(JwtErrorCode::wrongPartCount, "The token does not have three parts.");
    }
    parts[count++] = token.substr(start, dot - start);
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  if (count != 3 || parts[0].empty() || parts[1].empty()) {
    return jwtError(JwtErrorCode::wrongPartCount, "The token does not have three parts.");
  }

  const auto header = encoding::base64UrlDecode(parts[0]);
  auto payload = encoding::base64UrlDecode(parts[1]);
  if (!header || !payload || !encoding::base64UrlDecode(parts[2])) {
    return jwtError(JwtErrorCode::invalidBase64, "A part of the token is not base64url.");
  }
  if (!parseObject(*header)) {
    return jwtError(JwtErrorCode::invalidJson, "The token's header is not a JSON object.");
  }
  const auto claims = parseObject(*payload);
  if (!claims) {
    return jwtError(JwtErrorCode::invalidJson, "The token's payload is not a JSON object.");
  }
  DecodedJwt decoded;
  decoded.expiresAt = expiryOf(*claims);
  decoded.payloadJson = std::move(*payload);
  return decoded;
}

}  // namespace corvenza::device
