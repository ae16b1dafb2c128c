#include "platform/appsync/response_mapping.h"

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "platform/appsync/client_error.h"
#include "platform/appsync/graphql_error.h"

namespace corvenza::appsync {
namespace {

using nlohmann::json;

std::optional<json> parseObject(const std::string& body) {
  json parsed = parseResponseJson(body);
  if (parsed.is_discarded() || !parsed.is_object()) return std::nullopt;
  return parsed;
}

std::string stringMember(const json& object, const char* name) {
  if (!object.is_object()) return {};
  auto it = object.find(name);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::string{};
}

// Values that must never be echoed back: the whole Authorization header and
// its signature, and the session token.
std::vector<std::string> secretsOf(const http::HttpRequest& sent) {
  std::vector<std::string> secrets;
  if (auto token = http::findHeader(sent.headers, "x-amz-security-token");
      token && !token->empty()) {
    secrets.push_back(*token);
  }
  if (auto auth = http::findHeader(sent.headers, "authorization"); auth && !auth->empty()) {
    secrets.push_back(*auth);
    if (auto at = auth->find("Signature="); at != std::string::npos) {
      auto signature = auth->substr(at + 10);
      if (auto end = signature.find_first_of(", "); end != std::string::npos) {
        signature.resize(end);
      }
      if (!signature.empty()) secrets.push_back(signature);
    }
  }
  return secrets;
}

std::string withoutSecrets(std::string text, const std::vector<std::string>& secrets) {
  static constexpr std::string_view kMark = "[redacted]";
  for (const auto& secret : secrets) {
    // The search goes on after the mark, which may itself hold a short secret.
    for (auto at = text.find(secret); at != std::string::npos;
         at = text.find(secret, at + kMark.size())) {
      text.replace(at, secret.size(), kMark);
    }
  }
  return text;
}

// Service texts may echo the canonical request on the lines after the first;
// keep only the first line and scrub anything the request held secret.
std::string safeText(std::string text, const std::vector<std::string>& secrets) {
  if (auto newline = text.find('\n'); newline != std::string::npos) text.resize(newline);
  text = withoutSecrets(std::move(text), secrets);
  while (!text.empty() && (text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text;
}

// Errors inside a 2xx answer come from the service as well and may echo the request.
Error withoutSecrets(const Error& error, const std::vector<std::string>& secrets) {
  std::optional<UserInfo> info = error.userInfo();
  if (info) {
    for (auto& [key, value] : *info) value = withoutSecrets(std::move(value), secrets);
  }
  return Error(error.domain(), error.code(), std::move(info),
               withoutSecrets(error.localizedDescription(), secrets));
}

Error statusError(const http::HttpResponse& response, const http::HttpRequest& sent) {
  const auto secrets = secretsOf(sent);
  std::string message;
  std::string errorType;
  if (auto body = parseObject(response.body)) {
    if (auto errors = body->find("errors"); errors != body->end()) {
      const json& first = errors->is_array() && !errors->empty() ? errors->front() : *errors;
      message = stringMember(first, "message");
      errorType = stringMember(first, "errorType");
    }
    if (message.empty()) message = stringMember(*body, "message");
    if (message.empty()) message = stringMember(*body, "Message");
    if (errorType.empty()) errorType = stringMember(*body, "__type");
  }
  if (auto header = http::findHeader(response.headers, "x-amzn-ErrorType")) {
    // The header may carry a documentation URL after a colon.
    std::string type = header->substr(0, header->find(':'));
    if (errorType.empty()) errorType = type;
    if (message.empty()) message = type;
  }
  message = safeText(std::move(message), secrets);
  errorType = safeText(std::move(errorType), secrets);
  if (message.empty()) {
    message =
        "The GraphQL service answered with HTTP status " + std::to_string(response.status) + ".";
  }
  UserInfo info{{"statusCode", std::to_string(response.status)}};
  if (!errorType.empty()) info["errorType"] = errorType;
  return makeGraphQLClientError(response.status, std::move(message), std::move(info));
}

}  // namespace

detail::Result<GraphQLResult> mapGraphQLResponse(const http::HttpResponse& response,
                                                 const http::HttpRequest& sent) {
  if (response.status < 200 || response.status > 299) return statusError(response, sent);
  auto body = parseObject(response.body);
  if (!body) {
    return makeGraphQLClientError(kGraphQLClientResponseNotJSON,
                                  "The GraphQL service's response was not JSON (HTTP status " +
                                      std::to_string(response.status) + ").",
                                  UserInfo{{"statusCode", std::to_string(response.status)}});
  }
  GraphQLResult result;
  if (auto data = body->find("data"); data != body->end() && !data->is_null()) {
    result.data = std::move(*data);
  }
  if (auto errors = body->find("errors"); errors != body->end() && !errors->is_null()) {
    result.errors = parseGraphQLErrors(*errors);
    const auto secrets = secretsOf(sent);
    for (auto& error : *result.errors) error = withoutSecrets(error, secrets);
  }
  return result;
}

json parseResponseJson(std::string_view text) {
  bool tooDeep = false;
  json parsed = json::parse(
      text,
      [&](int depth, json::parse_event_t event, json&) {
        // depth counts the containers around the one that starts.
        if ((event == json::parse_event_t::object_start ||
             event == json::parse_event_t::array_start) &&
            depth >= kMaxResponseDepth) {
          tooDeep = true;
        }
        return !tooDeep;
      },
      /*allow_exceptions=*/false);
  return tooDeep ? json(json::value_t::discarded) : parsed;
}

}  // namespace corvenza::appsync
