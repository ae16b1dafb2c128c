#include "support/api_request.h"

#include <corvenza/console.h>

#include <cctype>
#include <nlohmann/json.hpp>

#include "platform/encoding/url.h"
#include "platform/http/http_transport.h"

namespace corvenza::support {

namespace {

bool isUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

/// The URL with its query replaced by @p query; the fragment is dropped since
/// it never travels.
std::string withQuery(std::string_view url, const std::string& query) {
  url = url.substr(0, url.find('#'));
  return std::string(url.substr(0, url.find('?'))) + "?" + query;
}

/// The percent-encoded query of @p url, absent when it has none.
std::optional<std::string> existingQuery(std::string_view url) {
  url = url.substr(0, url.find('#'));
  const auto mark = url.find('?');
  if (mark == std::string_view::npos) return std::nullopt;
  return std::string(url.substr(mark + 1));
}

// Query names that carry secrets: signatures and credentials of presigned
// links, and the usual token, key and password names. Matched whole (case
// folded), so that harmless names such as "author" or "design" stay readable.
bool isSecretName(std::string_view name) {
  std::string lower(name);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  static constexpr std::string_view kSecretNames[] = {"x-amz-signature",
                                                      "x-amz-credential",
                                                      "x-amz-security-token",
                                                      "signature",
                                                      "sig",
                                                      "token",
                                                      "access_token",
                                                      "id_token",
                                                      "refresh_token",
                                                      "auth",
                                                      "authorization",
                                                      "api_key",
                                                      "apikey",
                                                      "x-api-key",
                                                      "key",
                                                      "secret",
                                                      "client_secret",
                                                      "password",
                                                      "passwd",
                                                      "credential",
                                                      "credentials",
                                                      "session",
                                                      "session_token",
                                                      "code"};
  for (auto secret : kSecretNames) {
    if (lower == secret) return true;
  }
  return false;
}

}  // namespace

std::string urlForLog(std::string_view url) {
  url = url.substr(0, url.find('#'));
  std::string shown = http::redactedUrl(url);
  const auto existing = existingQuery(url);
  if (!existing) return shown;
  shown += '?';
  std::string_view rest(*existing);
  bool first = true;
  while (true) {
    const auto amp = rest.find('&');
    const std::string_view item = rest.substr(0, amp);
    const auto equals = item.find('=');
    const std::string_view name = item.substr(0, equals);
    if (!first) shown += '&';
    first = false;
    if (equals != std::string_view::npos && isSecretName(name)) {
      shown += std::string(name) + "=REDACTED";
    } else {
      shown += item;
    }
    if (amp == std::string_view::npos) break;
    rest = rest.substr(amp + 1);
  }
  return shown;
}

std::string percentEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (const char raw : text) {
    const auto c = static_cast<unsigned char>(raw);
    if (isUnreserved(c)) {
      out += raw;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
  return out;
}

std::string createQuery(const std::map<std::string, std::string>& parameters) {
  std::string query;
  for (const auto& [key, value] : parameters) {  // std::map iterates in ascending key order
    if (!query.empty()) query += '&';
    query += percentEncode(key) + "=" + percentEncode(value);
  }
  return query;
}

bool isParsableUrl(std::string_view url) {
  return encoding::parseUrl(url, encoding::UrlReading::fetch).has_value();
}

BuiltRequest createRequest(const std::string& url, HTTPMethod method,
                           const std::map<std::string, std::string>& parameters) {
  if (!isParsableUrl(url)) return {};
  // The application's URL may carry a presigned signature or a token.
  consoleLine("[H] Connect:" + urlForLog(url));

  http::HttpRequest request;
  request.url = url;
  request.method = std::string(rawValue(method));
  if (parameters.empty()) return {std::move(request), std::nullopt};

  switch (method) {
    case HTTPMethod::get: {
      const auto existing = existingQuery(url);
      std::string query = existing && !existing->empty() ? *existing + "&" : std::string();
      query += createQuery(parameters);
      request.url = withQuery(url, query);
      if (!isParsableUrl(request.url)) return {};
      return {std::move(request), std::nullopt};
    }
    case HTTPMethod::post: {
      try {
        request.body = nlohmann::json(parameters).dump();
      } catch (const nlohmann::json::exception& error) {
        // Not valid UTF-8: the request still goes, without a body.
        consoleLine(std::string("Error:") + error.what());
      }
      return {std::move(request), std::nullopt};
    }
    case HTTPMethod::put:
    case HTTPMethod::delete_:
      break;
  }
  return {std::nullopt,
          Error(kAPIConnectorErrorDomain, kAPIConnectorUnsupportedParameters, std::nullopt,
                std::string(rawValue(method)) + " requests take no parameters")};
}

}  // namespace corvenza::support
