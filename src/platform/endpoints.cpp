#include "platform/endpoints.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/encoding/url.h"

namespace corvenza::detail {

namespace {

std::optional<std::string> firstSet(const EnvironmentLookup& env,
                                    std::initializer_list<const char*> names) {
  for (const char* name : names) {
    auto value = env(name);
    if (value && !value->empty()) return value;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> processEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}

std::string dnsSuffix(std::string_view region) {
  return region.starts_with("cn-") ? "amazonaws.com.cn" : "amazonaws.com";
}

std::string cognitoIdentityEndpoint(std::string_view region, const EnvironmentLookup& env) {
  if (auto url = firstSet(env, {"AWS_ENDPOINT_URL_COGNITO_IDENTITY", "AWS_ENDPOINT_URL"})) {
    return *url;
  }
  return "https://cognito-identity." + std::string(region) + "." + dnsSuffix(region) + "/";
}

S3Endpoint s3Endpoint(std::string_view region, const EnvironmentLookup& env) {
  auto url = firstSet(env, {"AWS_ENDPOINT_URL_S3", "AWS_ENDPOINT_URL"});
  if (!url) {
    return S3Endpoint{"https", "s3." + std::string(region) + "." + dnsSuffix(region), "", false};
  }
  S3Endpoint endpoint;
  endpoint.pathStyle = true;
  // Without a scheme the endpoint is a host (and path) reached over https;
  // "http:/h" is a mistyped URL, though, not a host named "http".
  if (url->find("://") == std::string::npos) {
    const auto colon = url->find(':');
    const bool schemeLike =
        colon != std::string::npos && colon > 0 &&
        std::isalpha(static_cast<unsigned char>((*url)[0])) &&
        std::all_of(
            url->begin(), url->begin() + static_cast<std::ptrdiff_t>(colon),
            [](unsigned char c) { return std::isalnum(c) || c == '+' || c == '-' || c == '.'; }) &&
        (colon + 1 == url->size() || !std::isdigit(static_cast<unsigned char>((*url)[colon + 1])));
    if (schemeLike) {
      endpoint.valid = false;
      endpoint.scheme = url->substr(0, colon);
      return endpoint;
    }
    url = "https://" + *url;
  }
  // libcurl would read "http:///s3" as the host "s3"; a slash there is a typo.
  const auto parts = url->compare(url->find("://") + 3, 1, "/") == 0
                         ? std::nullopt
                         : encoding::parseUrl(*url, encoding::UrlReading::asWritten);
  if (!parts) {
    endpoint.valid = false;
    endpoint.scheme = url->substr(0, url->find("://"));
    return endpoint;
  }
  endpoint.scheme = parts->scheme;
  endpoint.host = parts->host + (parts->port.empty() ? "" : ":" + parts->port);
  std::string_view path = parts->path;
  while (!path.empty() && path.back() == '/') path.remove_suffix(1);
  endpoint.basePath = std::string(path);
  return endpoint;
}

std::string S3Endpoint::bucketUrl(std::string_view bucket) const {
  if (pathStyle) return scheme + "://" + host + basePath + "/" + std::string(bucket);
  return scheme + "://" + std::string(bucket) + "." + host + basePath;
}

}  // namespace corvenza::detail
