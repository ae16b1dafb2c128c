#include "base/http_message.h"

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>
#include <utility>

namespace corvenza::emulator {

std::vector<std::string> Request::headerValues(std::string_view name) const {
  const auto sameName = [name](std::string_view other) {
    return std::equal(name.begin(), name.end(), other.begin(), other.end(), [](char a, char b) {
      return std::tolower(static_cast<unsigned char>(a)) ==
             std::tolower(static_cast<unsigned char>(b));
    });
  };
  std::vector<std::string> values;
  for (const auto& [key, value] : headers) {
    if (sameName(key)) values.push_back(value);
  }
  return values;
}

Request makeRequest(std::string method, std::string target, http::HttpHeaders headers,
                    std::string body) {
  Request request;
  request.method = std::move(method);
  request.target = std::move(target);
  const auto question = request.target.find('?');
  request.path = request.target.substr(0, question);
  if (question != std::string::npos) request.query = request.target.substr(question + 1);
  request.headers = std::move(headers);
  request.body = std::move(body);
  request.subpath = request.path;
  return request;
}

std::optional<std::string_view> queryValue(std::string_view query, std::string_view name) {
  while (!query.empty()) {
    const auto amp = query.find('&');
    const auto pair = query.substr(0, amp);
    const auto eq = pair.find('=');
    if (pair.substr(0, eq) == name) {
      return eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1);
    }
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return std::nullopt;
}

Response jsonResponse(int status, const nlohmann::json& body, std::string contentType) {
  Response response;
  response.status = status;
  response.headers.emplace_back("Content-Type", std::move(contentType));
  response.body = body.dump();
  return response;
}

Response simpleError(int status, std::string_view code, std::string_view message) {
  return jsonResponse(status, {{"error", code}, {"message", message}});
}

}  // namespace corvenza::emulator
