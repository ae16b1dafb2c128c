#pragma once
// The emulator's own request and response values. Services see only these,
// never the server's HTTP library, so they stay quick to compile and easy to
// drive from unit tests.

#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/http/http_types.h"

namespace corvenza::emulator {

struct Request {
  std::string method;
  /// Path and query exactly as received (still percent-encoded).
  std::string target;
  /// The target up to the '?'.
  std::string path;
  /// The target after the '?', without it; empty when there is none.
  std::string query;
  http::HttpHeaders headers;
  std::string body;
  /// The path below the prefix the service is mounted at: "" or starting with '/'.
  std::string subpath;
  /// The peer's IP address as text ("127.0.0.1", "::1"); empty when the
  /// request did not come over a socket.
  std::string remoteAddress;

  std::optional<std::string> header(std::string_view name) const {
    return http::findHeader(headers, name);
  }
  /// Every value of @p name (any case), in the order received.
  std::vector<std::string> headerValues(std::string_view name) const;
};

struct Response {
  int status = 200;
  http::HttpHeaders headers;
  std::string body;
};

/// Splits @p target into path and query and fills the other fields.
Request makeRequest(std::string method, std::string target, http::HttpHeaders headers = {},
                    std::string body = {});

/// The raw value of @p name in @p query ("a=1&b=2"), undecoded; nothing when absent.
std::optional<std::string_view> queryValue(std::string_view query, std::string_view name);

/// A response with @p body serialised as JSON and the given content type.
Response jsonResponse(int status, const nlohmann::json& body,
                      std::string contentType = "application/json");

/// {"error": code, "message": message} with the given status.
Response simpleError(int status, std::string_view code, std::string_view message);

}  // namespace corvenza::emulator
