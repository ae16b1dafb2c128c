#include "platform/identity/identity_service_messages.h"

#include <chrono>
#include <cmath>
#include <nlohmann/json.hpp>
#include <optional>

namespace corvenza::identity {

namespace {

using Json = nlohmann::json;

// Service messages are shown to people; long ones are cut so a log line stays a line.
constexpr std::size_t kMaxMessageLength = 300;

std::optional<std::string> stringMember(const Json& object, const char* name) {
  if (!object.is_object()) return std::nullopt;
  auto it = object.find(name);
  if (it == object.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

std::string withoutSecret(std::string text, std::string_view secret) {
  static constexpr std::string_view kMark = "<redacted>";
  if (!secret.empty()) {
    // The search goes on after the mark, which may itself hold a short secret.
    for (auto at = text.find(secret); at != std::string::npos;
         at = text.find(secret, at + kMark.size())) {
      text.replace(at, secret.size(), kMark);
    }
  }
  if (text.size() > kMaxMessageLength) {
    // Cut before a character, not inside one.
    std::size_t cut = kMaxMessageLength;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text = text.substr(0, cut) + "...";
  }
  return text;
}

Error invalidResponse(const char* detail) {
  return CorvenzaError(CorvenzaErrorReason::invalidResponse, UserInfo{{"detail", detail}});
}

Error serviceError(const http::HttpResponse& response, std::string_view secret) {
  Json body = Json::parse(response.body, nullptr, /*allow_exceptions=*/false);
  std::optional<std::string> rawType = stringMember(body, "__type");
  if (!rawType) rawType = stringMember(body, "code");
  if (!rawType) rawType = http::findHeader(response.headers, "X-Amzn-ErrorType");
  // The type is shown as well, and a service may echo the token anywhere.
  std::string type = rawType ? withoutSecret(sanitizeErrorType(*rawType), secret) : std::string();
  if (type.empty()) type = "HTTP " + std::to_string(response.status);

  std::optional<std::string> message = stringMember(body, "message");
  if (!message) message = stringMember(body, "Message");

  UserInfo info{{"type", type}, {"status", std::to_string(response.status)}};
  std::string description = type;
  if (message && !message->empty()) {
    std::string clean = withoutSecret(*message, secret);
    info["message"] = clean;
    description += ": " + clean;
  }
  return Error(kIdentityServiceErrorDomain, response.status, std::move(info),
               std::move(description));
}

}  // namespace

std::string sanitizeErrorType(std::string_view raw) {
  raw = raw.substr(0, raw.find(':'));
  if (auto hash = raw.find('#'); hash != std::string_view::npos) raw.remove_prefix(hash + 1);
  return std::string(raw);
}

http::HttpRequest makeGetCredentialsRequest(const std::string& endpoint,
                                            const std::string& identityId, const std::string& jwt) {
  nlohmann::ordered_json body;
  body["IdentityId"] = identityId;
  body["Logins"][kDeveloperLoginProvider] = jwt;

  http::HttpRequest request;
  request.method = "POST";
  request.url = endpoint;
  request.headers = {{"Content-Type", "application/x-amz-json-1.1"},
                     {"X-Amz-Target", "AWSCognitoIdentityService.GetCredentialsForIdentity"}};
  // Replacing invalid UTF-8 keeps a broken token from throwing; the service rejects it.
  request.body = body.dump(-1, ' ', false, Json::error_handler_t::replace);
  return request;
}

detail::Result<IdentityCredentials> parseGetCredentialsResponse(const http::HttpResponse& response,
                                                                std::string_view secret) {
  if (response.status < 200 || response.status > 299) return serviceError(response, secret);

  Json body = Json::parse(response.body, nullptr, /*allow_exceptions=*/false);
  if (!body.is_object()) return invalidResponse("identity service answer is not a JSON object");
  auto creds = body.find("Credentials");
  if (creds == body.end() || !creds->is_object()) {
    return invalidResponse("identity service answer has no Credentials");
  }
  auto accessKey = stringMember(*creds, "AccessKeyId");
  auto secretKey = stringMember(*creds, "SecretKey");
  auto sessionToken = stringMember(*creds, "SessionToken");
  if (!accessKey || !secretKey || !sessionToken) {
    return invalidResponse("identity service credentials lack a key or the session token");
  }
  IdentityCredentials result;
  result.identityId = stringMember(body, "IdentityId").value_or(std::string());
  result.credentials.accessKeyId = std::move(*accessKey);
  result.credentials.secretAccessKey = std::move(*secretKey);
  result.credentials.sessionToken = std::move(*sessionToken);

  // Epoch seconds as a JSON number, often in exponent notation (1.7E9).
  auto expiration = creds->find("Expiration");
  if (expiration != creds->end()) {
    // Beyond what the clock holds (about 292 years either way) no instant can be made.
    using Clock = std::chrono::system_clock;
    const double limit = std::chrono::duration<double>(Clock::duration::max()).count() * 0.999;
    if (!expiration->is_number() || !std::isfinite(expiration->get<double>()) ||
        std::abs(expiration->get<double>()) >= limit) {
      return invalidResponse("identity service credentials have an unreadable Expiration");
    }
    auto seconds = std::chrono::duration<double>(expiration->get<double>());
    result.credentials.expiration = std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(seconds));
  }
  return result;
}

}  // namespace corvenza::identity
