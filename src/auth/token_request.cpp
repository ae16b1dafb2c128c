#include "auth/token_request.h"

#include <nlohmann/json.hpp>

namespace corvenza::auth {

namespace {

// The service's message is kept for people; a log line should stay a line.
constexpr std::size_t kMaxServiceMessage = 200;

Error unexpected(const char* detail) {
  return CorvenzaError(CorvenzaErrorReason::unexpectedError, UserInfo{{"detail", detail}});
}

}  // namespace

bool isSendableUrl(const std::string& url) {
  std::string_view rest = url;
  if (rest.starts_with("https://")) {
    rest.remove_prefix(8);
  } else if (rest.starts_with("http://")) {
    rest.remove_prefix(7);
  } else {
    return false;
  }
  for (unsigned char c : url) {
    if (c <= 0x20 || c == 0x7f) return false;
  }
  auto hostEnd = rest.find_first_of("/?#");
  std::string_view authority = rest.substr(0, hostEnd);
  if (auto at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
  return !authority.empty() && authority.front() != ':';
}

detail::Result<http::HttpRequest> makeTokenRequest(const std::string& apiUrl,
                                                   const std::string& apiKey,
                                                   const std::optional<std::string>& userId,
                                                   int tokenDuration) {
  std::string url = apiUrl + "/token";
  if (!isSendableUrl(url)) return unexpected("The token service URL is not a valid http(s) URL");

  nlohmann::ordered_json body;
  body["user_id"] = userId ? nlohmann::ordered_json(*userId) : nlohmann::ordered_json(nullptr);
  body["token_duration"] = tokenDuration;

  http::HttpRequest request;
  request.method = "POST";
  request.url = std::move(url);
  request.headers = {{"x-api-key", apiKey}};
  try {
    request.body = body.dump();
  } catch (const nlohmann::json::exception&) {
    return unexpected("The token request body cannot be serialised");
  }
  return request;
}

detail::Result<CorvenzaToken> parseTokenResponse(const std::optional<std::string>& body) {
  if (!body) return CorvenzaError(CorvenzaErrorReason::invalidResponse);
  auto json = nlohmann::json::parse(*body, nullptr, /*allow_exceptions=*/false);
  if (json.is_discarded()) return CorvenzaError(CorvenzaErrorReason::invalidResponse);

  if (!json.is_object()) return unexpected("The token answer is not an object");
  auto content = json.find("content");
  if (content == json.end() || !content->is_object()) {
    return unexpected("The token answer has no \"content\" object");
  }
  auto token = content->find("token");
  if (token == content->end() || !token->is_object()) {
    return unexpected("The token answer has no \"token\" object");
  }
  for (const auto& member : token->items()) {
    if (!member.value().is_string()) return unexpected("The token answer has a non-string member");
  }
  auto jwt = token->find("jwt_token");
  auto identityId = token->find("identity_id");
  if (jwt == token->end() || identityId == token->end()) {
    return unexpected("The token answer lacks \"jwt_token\" or \"identity_id\"");
  }
  return CorvenzaToken(jwt->get<std::string>(), identityId->get<std::string>());
}

detail::Result<CorvenzaToken> readTokenAnswer(const detail::Result<http::HttpResponse>& response,
                                              const std::string& apiKey) {
  std::optional<std::string> body;
  if (response.ok()) body = response.value().body;
  auto token = parseTokenResponse(body);
  if (token.ok()) return token;

  UserInfo cause{{error_info::kService, "authentication"}};
  if (!response.ok()) {
    cause[error_info::kUnderlyingError] = response.error().localizedDescription();
    cause[error_info::kUnderlyingDomain] = response.error().domain();
    cause[error_info::kUnderlyingCode] = std::to_string(response.error().code());
  } else {
    cause[error_info::kHttpStatus] = std::to_string(response.value().status);
    auto json = nlohmann::json::parse(response.value().body, nullptr, false);
    if (json.is_object()) {
      auto message = json.find("message");
      if (message != json.end() && message->is_string()) {
        // Without the key should the service echo it, and kept short. The key
        // goes first: one across the cut would leave its head behind.
        static constexpr std::string_view kMark = "[redacted]";
        auto text = message->get<std::string>();
        for (auto at = apiKey.empty() ? std::string::npos : text.find(apiKey);
             at != std::string::npos; at = text.find(apiKey, at + kMark.size())) {
          text.replace(at, apiKey.size(), kMark);
        }
        if (text.size() > kMaxServiceMessage) {
          // Cut before a character, not inside one.
          std::size_t cut = kMaxServiceMessage;
          while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
          text.resize(cut);
        }
        cause[error_info::kServiceMessage] = text;
      }
    }
  }
  return token.error().withUserInfo(cause);
}

}  // namespace corvenza::auth
