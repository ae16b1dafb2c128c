#pragma once
// Where the identity service and object storage are reached. An endpoint set
// in the environment beats the regional host, the per-service variable beats
// the global one, so the emulator (or any compatible service) can stand in.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace corvenza::detail {

/// Reads one environment variable; an empty value counts as unset.
using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;

/// The process environment.
std::optional<std::string> processEnvironment(const char* name);

/// The identity service's base URL: AWS_ENDPOINT_URL_COGNITO_IDENTITY, else
/// AWS_ENDPOINT_URL, else "https://cognito-identity.<region>.amazonaws.com/".
std::string cognitoIdentityEndpoint(std::string_view region,
                                    const EnvironmentLookup& env = processEnvironment);

/// How objects of a bucket are addressed.
struct S3Endpoint {
  /// "https" or "http".
  std::string scheme;
  /// Host, with ":port" when one was given.
  std::string host;
  /// Path of an overriding endpoint without its trailing slash ("" for none).
  std::string basePath;
  /// True when the bucket goes into the path (any endpoint override) rather
  /// than into the host name.
  bool pathStyle = false;
  /// False when the override is not a URL with a host: nothing goes to it.
  bool valid = true;

  /// The URL under which @p bucket's keys follow after one "/", e.g.
  /// "https://b.s3.r.amazonaws.com" or "http://127.0.0.1:9000/b".
  std::string bucketUrl(std::string_view bucket) const;
};

/// Object storage: AWS_ENDPOINT_URL_S3, else AWS_ENDPOINT_URL (both path-style),
/// else the regional host with the bucket in the host name.
S3Endpoint s3Endpoint(std::string_view region, const EnvironmentLookup& env = processEnvironment);

/// The DNS suffix of @p region's partition ("amazonaws.com", or
/// "amazonaws.com.cn" for the China regions).
std::string dnsSuffix(std::string_view region);

}  // namespace corvenza::detail
