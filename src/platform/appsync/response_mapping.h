#pragma once
// Turns an HTTP response of the GraphQL endpoint into a result or an error.

#include <nlohmann/json.hpp>
#include <string_view>

#include "core/result.h"
#include "platform/appsync/graphql_request.h"
#include "platform/http/http_types.h"

namespace corvenza::appsync {

/// A 2xx response must carry a JSON object: its "data" and "errors" members
/// become the result. Anything else becomes a kGraphQLClientErrorDomain error:
/// a non-2xx status gives that status as code, with the service's message
/// (errors[0].message, "message" or the x-amzn-ErrorType header) as
/// description. Header values of @p sent that are secrets (signature, session
/// token) are scrubbed from any text taken from the response.
detail::Result<GraphQLResult> mapGraphQLResponse(const http::HttpResponse& response,
                                                 const http::HttpRequest& sent);

/// How many objects and arrays a service's JSON may nest. Readers further on
/// (the cache, error texts) go down one call per level, so deeper text is
/// refused, not read.
inline constexpr int kMaxResponseDepth = 256;

/// Parses JSON text from the service; malformed text, and text nested deeper
/// than kMaxResponseDepth, give a discarded value. Never throws.
nlohmann::json parseResponseJson(std::string_view text);

}  // namespace corvenza::appsync
