#include "platform/endpoints.h"

#include <cstdlib>

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
  std::string_view rest = *url;
  if (auto colon = rest.find("://"); colon != std::string_view::npos) {
    endpoint.scheme = std::string(rest.substr(0, colon));
    rest.remove_prefix(colon + 3);
  } else {
    endpoint.scheme = "https";
  }
  auto slash = rest.find('/');
  endpoint.host = std::string(rest.substr(0, slash));
  if (slash != std::string_view::npos) {
    std::string_view path = rest.substr(slash);
    while (!path.empty() && path.back() == '/') path.remove_suffix(1);
    endpoint.basePath = std::string(path);
  }
  return endpoint;
}

std::string S3Endpoint::bucketUrl(std::string_view bucket) const {
  if (pathStyle) return scheme + "://" + host + basePath + "/" + std::string(bucket);
  return scheme + "://" + std::string(bucket) + "." + host + basePath;
}

}  // namespace corvenza::detail
