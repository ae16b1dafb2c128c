#pragma once
// Server-side checking of signed requests, as the emulator and the tests need
// it (never part of the client library): the header form and presigned URLs,
// with typed reasons for every rejection.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/http/http_types.h"
#include "platform/sigv4/credentials.h"

namespace corvenza::sigv4 {

enum class VerificationStatus {
  verified,
  missingAuthentication,  ///< neither an Authorization header nor X-Amz-Signature
  malformed,              ///< unreadable authorization, scope, date, or signed-header list
  unknownAccessKey,       ///< the lookup knows no such key
  invalidSessionToken,    ///< token missing, unexpected or not the key's
  signatureMismatch,
  contentHashMismatch,  ///< x-amz-content-sha256 is not the body's hash
  expired,              ///< a presigned URL past X-Amz-Date + X-Amz-Expires
  requestTimeSkewed,    ///< signed too far from the server's time
};

/// A request as the server received it.
struct ReceivedRequest {
  std::string method;
  /// The request target exactly as on the request line: raw path and query.
  std::string target;
  http::HttpHeaders headers;
  /// The body, unless bodySha256 is given.
  std::string_view body;
  /// Lowercase hex SHA-256 of a body that was streamed elsewhere (to disk).
  std::optional<std::string> bodySha256;
};

/// Finds the credentials of an access key id, or nothing when unknown.
using CredentialsLookup = std::function<std::optional<Credentials>(std::string_view accessKeyId)>;

struct VerifierOptions {
  CredentialsLookup lookup;
  /// Object-storage rules: single encoding, no normalisation, and the header
  /// form must carry x-amz-content-sha256; presigned URLs sign
  /// UNSIGNED-PAYLOAD.
  bool storageRules = false;
  bool normalizePath = true;
  /// When not empty, the credential scope must name this service.
  std::string service;
  /// Header form: how far X-Amz-Date may be from the server's time.
  std::chrono::seconds allowedSkew{15 * 60};
};

struct Verification {
  VerificationStatus status = VerificationStatus::missingAuthentication;
  /// Why, for an error response; never holds a secret, token or signature.
  std::string message;
  std::string accessKeyId;
  std::string sessionToken;
  std::string region;
  bool presigned = false;

  bool ok() const { return status == VerificationStatus::verified; }
};

/// Checks @p request at server time @p now. Safe to call from any thread as
/// long as the lookup is.
Verification verifyRequest(const ReceivedRequest& request, const VerifierOptions& options,
                           std::chrono::system_clock::time_point now);

/// A short stable name for @p status ("SignatureDoesNotMatch" style), for
/// error codes in responses.
std::string_view statusCode(VerificationStatus status);

}  // namespace corvenza::sigv4
