#pragma once
// Building the request of an APIConnector from its URL string, method and
// parameters, apart from sending it so that it can be checked on its own.

#include <corvenza/api_connector.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/http/http_types.h"

namespace corvenza::support {

/// Percent-encodes every byte except letters, digits and "-._~".
std::string percentEncode(std::string_view text);

/// "k1=v1&k2=v2" in ascending key order, keys and values percent-encoded;
/// empty for no parameters.
std::string createQuery(const std::map<std::string, std::string>& parameters);

/// @p url for a console line: no user information, and the values of query
/// items whose names look secret (signature, credential, token, key, ...)
/// replaced by "REDACTED".
std::string urlForLog(std::string_view url);

/// Whether @p url parses as an absolute URL with a scheme and a host.
bool isParsableUrl(std::string_view url);

struct BuiltRequest {
  /// Absent when there is no request.
  std::optional<http::HttpRequest> request;
  /// Why there is none; absent when the URL simply did not parse.
  std::optional<Error> error;
};

/// The request for @p url, @p method and @p parameters with default time-out
/// and no headers. Prints "[H] Connect:" once the URL has parsed.
BuiltRequest createRequest(const std::string& url, HTTPMethod method,
                           const std::map<std::string, std::string>& parameters);

}  // namespace corvenza::support
