#pragma once
// The authentication service's token request and the reading of its answer.

#include <corvenza/token.h>

#include <optional>
#include <string>

#include "core/result.h"
#include "platform/http/http_types.h"

namespace corvenza::auth {

/// True when @p url has an http or https scheme and a host, and no blanks
/// or control characters: the least a request needs to be sent.
bool isSendableUrl(const std::string& url);

/// POST apiUrl + "/token" with only "x-api-key" set and the body
/// {"user_id": userId or null, "token_duration": tokenDuration}.
/// Fails with CorvenzaError unexpectedError when the URL is not sendable
/// or the body cannot be serialised (a user id that is not UTF-8).
detail::Result<http::HttpRequest> makeTokenRequest(const std::string& apiUrl,
                                                   const std::string& apiKey,
                                                   const std::optional<std::string>& userId,
                                                   int tokenDuration);

/// Reads content.token.{jwt_token, identity_id}. No body or a body that is
/// not JSON: CorvenzaError invalidResponse (1999). Any other shape, including
/// a non-string member of "token": CorvenzaError unexpectedError (2000).
/// The HTTP status is not consulted.
detail::Result<CorvenzaToken> parseTokenResponse(const std::optional<std::string>& body);

/// parseTokenResponse() of what the transport delivered (a failure carries no
/// body), with the cause added to a failure's user information: the
/// authentication service as the service, the HTTP status and the service's
/// "message" (with any occurrence of @p apiKey removed), or the transport
/// error underneath. Codes stay those above.
detail::Result<CorvenzaToken> readTokenAnswer(const detail::Result<http::HttpResponse>& response,
                                              const std::string& apiKey);

}  // namespace corvenza::auth
