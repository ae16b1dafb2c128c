#pragma once
// Request signing: the Authorization-header form for requests the library
// sends, and the query form for links handed to others (presigned URLs).

#include <chrono>
#include <string>
#include <string_view>

#include "core/result.h"
#include "platform/http/http_types.h"
#include "platform/sigv4/credentials.h"

namespace corvenza::sigv4 {

struct SigningParams {
  std::string region;
  std::string service;
  Credentials credentials;
  /// The signing time; take it from a ClockSkew so a skewed device clock is
  /// corrected.
  std::chrono::system_clock::time_point time;
  /// Object-storage rules: the path is encoded once and never normalised, and
  /// the header form carries x-amz-content-sha256.
  bool storageRules = false;
  /// Other services: remove "." / ".." / empty segments before encoding.
  bool normalizePath = true;
  /// Other services: add a signed x-amz-content-sha256 header as well.
  bool signBody = false;
  /// Storage rules, header form: sign the literal UNSIGNED-PAYLOAD instead of
  /// hashing the body (for bodies too large to read twice).
  bool unsignedPayload = false;
  /// Add the session token after signing, unsigned (for services that want
  /// it so).
  bool omitSessionToken = false;
};

/// What was signed, for tests and diagnostics. The canonical request and the
/// string to sign may hold a session token: never log them.
struct SigningResult {
  std::string canonicalRequest;
  std::string stringToSign;
  std::string signature;
  std::string signedHeaders;
};

/// Signs @p request in place (header form). Removes any earlier signature, so
/// a retried request can be signed again. Adds Host when absent,
/// X-Amz-Date, X-Amz-Security-Token for temporary credentials,
/// x-amz-content-sha256 where the rules ask for it, and Authorization. Every
/// header present is signed except hop-by-hop ones (user-agent, expect,
/// connection, transfer-encoding, ...). The body comes from
/// `request.bodyFile` when set (hashed in chunks), else `request.body`.
/// Errors (domain "CorvenzaSigningError"): invalid URL, missing credentials,
/// unreadable body file.
detail::Result<SigningResult> signRequest(http::HttpRequest& request, const SigningParams& params);

/// Signs @p request in the query form: the X-Amz-* parameters and the
/// signature are appended to `request.url`; every header present (Host at
/// least) is signed and must be sent with the URL. Storage rules sign
/// UNSIGNED-PAYLOAD; other services sign the hash of `request.body`.
/// @p expires is the lifetime in seconds, 1 to 604800.
detail::Result<SigningResult> presignRequest(http::HttpRequest& request,
                                             const SigningParams& params,
                                             std::chrono::seconds expires);

/// A presigned URL for @p method on @p url, signing only the host.
detail::Result<std::string> presignUrl(std::string_view method, std::string_view url,
                                       const SigningParams& params, std::chrono::seconds expires);

}  // namespace corvenza::sigv4
