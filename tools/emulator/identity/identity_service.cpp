#include "identity/identity_service.h"

#include <nlohmann/json.hpp>
#include <regex>

#include "base/bounded_json.h"
#include "base/random.h"

namespace corvenza::emulator {
namespace {

constexpr std::string_view kContentType = "application/x-amz-json-1.1";
constexpr std::string_view kTargetPrefix = "AWSCognitoIdentityService.";

bool isIdentityIdShaped(const std::string& id) {
  static const std::regex shape(R"([a-z]{2}(-gov)?-[a-z]+-\d:[0-9a-f-]{36})");
  return std::regex_match(id, shape);
}

Response withRequestId(Response response) {
  response.headers.emplace_back("x-amzn-RequestId", randomUuid());
  return response;
}

}  // namespace

Response identityError(std::string_view type, std::string_view message, int status) {
  auto response =
      jsonResponse(status, {{"__type", type}, {"message", message}}, std::string(kContentType));
  response.headers.emplace_back("x-amzn-ErrorType", std::string(type));
  return withRequestId(std::move(response));
}

Response IdentityService::handle(const Request& request) {
  if (request.subpath != "" && request.subpath != "/") {
    return identityError("UnknownOperationException", "unknown path", 404);
  }
  if (request.method != "POST") {
    return identityError("UnknownOperationException", "only POST is supported", 405);
  }
  const auto target = request.header("X-Amz-Target").value_or("");
  const auto contentType = request.header("Content-Type").value_or("");
  if (contentType.compare(0, kContentType.size(), kContentType) != 0) {
    return identityError("SerializationException",
                         "Content-Type must be application/x-amz-json-1.1");
  }
  const bool getCredentials = target == std::string(kTargetPrefix) + "GetCredentialsForIdentity";
  if (!getCredentials && target != std::string(kTargetPrefix) + "GetId") {
    return identityError("UnknownOperationException",
                         target.empty() ? "X-Amz-Target is missing" : "unknown operation");
  }
  const auto body = parseBoundedJson(request.body);
  if (!body.is_object()) {
    return identityError("InvalidParameterException", "the body is not a JSON object");
  }
  return withRequestId(getCredentials ? getCredentialsForIdentity(body) : getId(body));
}

std::variant<std::string, Response> IdentityService::verifyLogins(const nlohmann::json& body) {
  const auto logins = body.find("Logins");
  if (logins == body.end() || logins->is_null() || (logins->is_object() && logins->empty())) {
    return identityError("NotAuthorizedException",
                         "Unauthenticated access is not supported for this identity pool.");
  }
  if (!logins->is_object()) {
    return identityError("InvalidParameterException", "Logins must be a map");
  }
  const auto token = logins->find(kLoginProvider);
  if (token == logins->end() || !token->is_string()) {
    return identityError("NotAuthorizedException",
                         "Invalid login token. No token for the developer provider.");
  }
  auto claims = context_.jwt.verify(token->get<std::string>(), context_.clock.nowSeconds());
  if (!claims) {
    return identityError("NotAuthorizedException",
                         "Invalid login token. " + claims.error().localizedDescription() + ".");
  }
  return (*claims)["sub"].get<std::string>();
}

Response IdentityService::getCredentialsForIdentity(const nlohmann::json& body) {
  const auto idField = body.find("IdentityId");
  if (idField == body.end() || !idField->is_string()) {
    return identityError("InvalidParameterException", "IdentityId is required");
  }
  const auto identityId = idField->get<std::string>();
  if (!isIdentityIdShaped(identityId)) {
    return identityError("InvalidParameterException", "IdentityId is not a valid identity id");
  }
  if (!context_.identities->exists(identityId)) {
    return identityError("ResourceNotFoundException", "Identity '" + identityId + "' not found.");
  }
  auto verified = verifyLogins(body);
  if (auto* error = std::get_if<Response>(&verified)) return std::move(*error);
  if (std::get<std::string>(verified) != identityId) {
    return identityError("NotAuthorizedException",
                         "Invalid login token. The token belongs to another identity.");
  }

  const auto now = context_.clock.now();
  const auto expiration = now + context_.options.credentialsDuration;
  const auto credentials = context_.credentials.issue(identityId, now, expiration);
  const auto expirationSeconds =
      std::chrono::duration_cast<std::chrono::seconds>(expiration.time_since_epoch()).count();
  return jsonResponse(200,
                      {{"IdentityId", identityId},
                       {"Credentials",
                        {{"AccessKeyId", credentials.accessKeyId},
                         {"SecretKey", credentials.secretKey},
                         {"SessionToken", credentials.sessionToken},
                         // Epoch seconds as a JSON double, as the real protocol sends them.
                         {"Expiration", static_cast<double>(expirationSeconds)}}}},
                      std::string(kContentType));
}

Response IdentityService::getId(const nlohmann::json& body) {
  const auto pool = body.find("IdentityPoolId");
  if (pool == body.end() || !pool->is_string()) {
    return identityError("InvalidParameterException", "IdentityPoolId is required");
  }
  if (*pool != context_.options.identityPoolId) {
    return identityError("ResourceNotFoundException", "IdentityPool not found.");
  }
  auto verified = verifyLogins(body);
  if (auto* error = std::get_if<Response>(&verified)) return std::move(*error);
  return jsonResponse(200, {{"IdentityId", std::get<std::string>(verified)}},
                      std::string(kContentType));
}

}  // namespace corvenza::emulator
