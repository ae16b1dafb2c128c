#include <algorithm>
#include <array>
#include <nlohmann/json.hpp>
#include <string_view>

#include "platform/http/retrying_transport.h"

namespace corvenza::http {

namespace {

// "aws.protocoltests#ThrottlingException" and "SlowDown:http://internal/" both
// name the code in the middle.
std::string normalizeCode(std::string_view raw) {
  if (const auto colon = raw.find(':'); colon != std::string_view::npos) {
    raw = raw.substr(0, colon);
  }
  if (const auto hash = raw.rfind('#'); hash != std::string_view::npos) {
    raw = raw.substr(hash + 1);
  }
  while (!raw.empty() && (raw.front() == ' ' || raw.front() == '\t')) raw.remove_prefix(1);
  while (!raw.empty() && (raw.back() == ' ' || raw.back() == '\t')) raw.remove_suffix(1);
  return std::string(raw);
}

std::string codeFromJson(const std::string& body) {
  const auto start = body.find_first_not_of(" \t\r\n");
  if (start == std::string::npos || body[start] != '{') return {};
  const auto json = nlohmann::json::parse(body, nullptr, false);
  if (!json.is_object()) return {};
  for (const char* key : {"__type", "code", "Code"}) {
    if (auto found = json.find(key); found != json.end() && found->is_string()) {
      return normalizeCode(found->get<std::string>());
    }
  }
  return {};
}

std::string codeFromXml(const std::string& body) {
  constexpr std::string_view open = "<Code>";
  constexpr std::string_view close = "</Code>";
  const auto start = body.find(open);
  if (start == std::string::npos) return {};
  const auto end = body.find(close, start + open.size());
  if (end == std::string::npos) return {};
  return normalizeCode(
      std::string_view(body).substr(start + open.size(), end - start - open.size()));
}

template <std::size_t N>
bool contains(const std::array<std::string_view, N>& list, const std::string& code) {
  return std::find(list.begin(), list.end(), code) != list.end();
}

}  // namespace

std::string serviceErrorCode(const HttpResponse& response) {
  if (auto header = findHeader(response.headers, "x-amzn-ErrorType")) {
    if (auto code = normalizeCode(*header); !code.empty()) return code;
  }
  if (auto code = codeFromJson(response.body); !code.empty()) return code;
  return codeFromXml(response.body);
}

bool isTransientErrorCode(const std::string& code) {
  static constexpr std::array<std::string_view, 16> kTransient = {
      "RequestTimeout",
      "RequestTimeoutException",
      "PriorRequestNotComplete",
      "Throttling",
      "ThrottlingException",
      "ThrottledException",
      "RequestThrottledException",
      "TooManyRequestsException",
      "ProvisionedThroughputExceededException",
      "TransactionInProgressException",
      "RequestLimitExceeded",
      "BandwidthLimitExceeded",
      "LimitExceededException",
      "RequestThrottled",
      "SlowDown",
      "EC2ThrottledException",
  };
  return contains(kTransient, code);
}

bool isClockSkewErrorCode(const std::string& code) {
  static constexpr std::array<std::string_view, 6> kSkew = {
      "AuthFailure",        "InvalidSignatureException", "RequestExpired",
      "RequestInTheFuture", "RequestTimeTooSkewed",      "SignatureDoesNotMatch",
  };
  return contains(kSkew, code);
}

bool isRefusedCredentialsErrorCode(const std::string& code) {
  static constexpr std::array<std::string_view, 8> kRefused = {
      "ExpiredToken",          "ExpiredTokenException",
      "InvalidAccessKeyId",    "InvalidClientTokenId",
      "InvalidToken",          "TokenRefreshRequired",
      "UnauthorizedException", "UnrecognizedClientException",
  };
  return contains(kRefused, code);
}

std::string signingAccessKeyId(const HttpRequest& request) {
  const auto authorization = findHeader(request.headers, "Authorization").value_or("");
  static constexpr std::string_view kCredential = "Credential=";
  const auto start = authorization.find(kCredential);
  if (start == std::string::npos) return {};
  const auto from = start + kCredential.size();
  const auto end = authorization.find('/', from);
  if (end == std::string::npos) return {};
  return authorization.substr(from, end - from);
}

}  // namespace corvenza::http
