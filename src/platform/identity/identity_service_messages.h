#pragma once
// The identity service's GetCredentialsForIdentity call on the wire: the
// unsigned JSON 1.1 request and the reading of its answer.

#include <string>
#include <string_view>

#include "core/result.h"
#include "platform/http/http_types.h"
#include "platform/sigv4/credentials.h"

namespace corvenza::identity {

/// Domain of errors the identity service reports (code: the HTTP status).
inline constexpr const char* kIdentityServiceErrorDomain = "CorvenzaIdentityServiceError";

/// The provider key under which a developer-authenticated token signs in.
inline constexpr const char* kDeveloperLoginProvider = "cognito-identity.amazonaws.com";

/// POST to @p endpoint with the JSON 1.1 headers and
/// {"IdentityId": ..., "Logins": {"cognito-identity.amazonaws.com": jwt}}.
http::HttpRequest makeGetCredentialsRequest(const std::string& endpoint,
                                            const std::string& identityId, const std::string& jwt);

struct IdentityCredentials {
  /// The identity id the service answered with (it may differ from the one sent).
  std::string identityId;
  sigv4::Credentials credentials;
};

/// Reads a response. A non-2xx answer becomes an error of
/// kIdentityServiceErrorDomain described by the service's error type and
/// message, with @p secret (the token sent) cut out of both; a 2xx
/// answer without usable credentials becomes CorvenzaError invalidResponse.
detail::Result<IdentityCredentials> parseGetCredentialsResponse(const http::HttpResponse& response,
                                                                std::string_view secret);

/// "ns#Name:url" -> "Name": cut at the first ':', keep what follows the first '#'.
std::string sanitizeErrorType(std::string_view raw);

}  // namespace corvenza::identity
