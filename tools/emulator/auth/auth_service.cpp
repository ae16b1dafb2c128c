#include "auth/auth_service.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "base/bounded_json.h"
#include "platform/sigv4/crypto.h"

namespace corvenza::emulator {

Response AuthService::handle(const Request& request) {
  if (request.subpath != "/token") return simpleError(404, "NotFound", "unknown auth path");
  if (request.method != "POST") return simpleError(405, "MethodNotAllowed", "use POST");

  const auto apiKey = request.header("x-api-key");
  if (!apiKey || !sigv4::constantTimeEquals(*apiKey, context_.options.apiKey)) {
    return simpleError(401, "Unauthorized", "missing or wrong x-api-key");
  }

  const auto body = parseBoundedJson(request.body);
  if (!body.is_object()) {
    return simpleError(400, "BadRequest", "the body is not a JSON object");
  }
  std::optional<std::string> userId;
  if (const auto it = body.find("user_id"); it != body.end() && !it->is_null()) {
    if (!it->is_string()) return simpleError(400, "BadRequest", "user_id must be a string or null");
    userId = it->get<std::string>();
  }
  std::int64_t duration = kDefaultTokenDuration;
  if (const auto it = body.find("token_duration"); it != body.end()) {
    if (!it->is_number() || !std::isfinite(it->get<double>())) {
      return simpleError(400, "BadRequest", "token_duration must be a number of seconds");
    }
    duration = static_cast<std::int64_t>(it->get<double>());
    if (duration < 1 || duration > kMaxTokenDuration) {
      return simpleError(400, "BadRequest", "token_duration must lie between 1 and 86400");
    }
  }

  auto identityId = context_.identities->identityFor(userId);
  if (!identityId) {
    return simpleError(500, "InternalError", identityId.error().localizedDescription());
  }
  const auto token = context_.jwt.sign(*identityId, context_.clock.nowSeconds(), duration);
  return jsonResponse(
      200, {{"content", {{"token", {{"jwt_token", token}, {"identity_id", *identityId}}}}}});
}

}  // namespace corvenza::emulator
