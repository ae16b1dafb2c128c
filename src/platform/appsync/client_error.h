#pragma once
// Failures of the GraphQL client itself (as opposed to errors the service
// reports inside a well-formed response).

#include <corvenza/error.h>

#include <string>

namespace corvenza::appsync {

/// Domain of the client's own failures. For an HTTP status outside 2xx the
/// code is that status (100..599); otherwise one of GraphQLClientErrorCode.
inline constexpr const char* kGraphQLClientErrorDomain = "CorvenzaGraphQLClientError";

enum GraphQLClientErrorCode : int {
  /// The service answered a body that is not a JSON object.
  kGraphQLClientResponseNotJSON = 1,
  /// A complex-object upload failed; the mutation was not sent.
  kGraphQLClientUploadFailed = 2,
  /// The endpoint URL given at construction is not an http(s) URL, or no
  /// transport was given.
  kGraphQLClientInvalidEndpoint = 3,
  /// The request could not be built (variables not serialisable, signing failed
  /// without an error of its own).
  kGraphQLClientInvalidRequest = 4,
};

inline Error makeGraphQLClientError(int code, std::string description,
                                    std::optional<UserInfo> info = std::nullopt) {
  return Error(kGraphQLClientErrorDomain, code, std::move(info), std::move(description));
}

}  // namespace corvenza::appsync
