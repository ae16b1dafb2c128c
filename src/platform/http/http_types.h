#pragma once
// Plain request and response values shared by the transport, the signer and
// every client built on them.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvenza::http {

/// Header fields in the order they are sent; names keep the case they were given.
using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

/// Case-insensitive lookup of the first header named @p name.
std::optional<std::string> findHeader(const HttpHeaders& headers, std::string_view name);
/// Replaces every header named @p name (case-insensitive) by one with @p value.
void setHeader(HttpHeaders& headers, std::string_view name, std::string value);
/// Removes every header named @p name (case-insensitive).
void removeHeader(HttpHeaders& headers, std::string_view name);

struct HttpRequest {
  std::string method = "GET";
  /// Absolute URL, already percent-encoded as it goes on the wire.
  std::string url;
  HttpHeaders headers;
  /// The body, unless bodyFile is set.
  std::string body;
  /// Streams the body from this file instead of `body` (uploads).
  std::optional<std::filesystem::path> bodyFile;
  /// Writes the response body to this file instead of memory (downloads).
  std::optional<std::filesystem::path> responseFile;
  /// The certificate authorities to trust for https, instead of the system
  /// store; when empty, the file AWS_CA_BUNDLE names, else the system store.
  std::filesystem::path caFile;
  /// The proxy to go through; when empty, libcurl's reading of https_proxy,
  /// http_proxy, all_proxy and no_proxy (and their upper-case forms).
  std::string proxy;
  /// How long the transfer may go without a byte moving (whole seconds,
  /// rounded up), connecting included.
  std::chrono::milliseconds timeout{60'000};
  /// Whether the service may receive the request twice without harm. When
  /// false, a request that may have reached the service (the connection was
  /// lost or timed out after it was sent, or a gateway failed) is not sent
  /// again: only failures that prove it was not handled are retried.
  bool idempotent = true;
};

struct HttpResponse {
  /// HTTP status code as received; a 4xx or 5xx is a response, not a transport error.
  int status = 0;
  HttpHeaders headers;
  std::string body;
};

}  // namespace corvenza::http
