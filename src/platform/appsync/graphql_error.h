#pragma once
// Errors the GraphQL service reports in a response's "errors" member, turned
// into the library's Error value.

#include <corvenza/error.h>

#include <nlohmann/json_fwd.hpp>
#include <vector>

namespace corvenza::appsync {

/// Domain of errors reported by the GraphQL service itself.
inline constexpr const char* kGraphQLErrorDomain = "GraphQLError";
/// The only code of kGraphQLErrorDomain: the service gives no numeric code.
inline constexpr int kGraphQLErrorCode = 0;
/// Description used when the service sent an error without a message.
inline constexpr const char* kGraphQLErrorNoMessage = "The GraphQL service reported an error.";

/// Makes an error from one entry of "errors". Its description is the entry's
/// "message"; its user info carries "errorType", "path" (segments joined with
/// ".", e.g. "getBodysizeEstimation.items.0") and "locations" ("line:column",
/// comma-separated) when the entry has them. Any JSON value is accepted.
Error makeGraphQLError(const nlohmann::json& entry);

/// Makes one error per entry of an "errors" member: an array gives one per
/// element, a single object or string gives one, null gives none.
std::vector<Error> parseGraphQLErrors(const nlohmann::json& errors);

}  // namespace corvenza::appsync
