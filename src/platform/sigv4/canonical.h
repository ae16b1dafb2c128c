#pragma once
// The canonical forms both the signer and the verifier build: one code path,
// so a client and the emulator can never disagree about a request.

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/http/http_types.h"

namespace corvenza::sigv4 {

/// The longest a presigned link may stay valid: seven days.
inline constexpr auto kMaxPresignLifetime = std::chrono::seconds(604800);

inline constexpr std::string_view kAlgorithm = "AWS4-HMAC-SHA256";
inline constexpr std::string_view kUnsignedPayload = "UNSIGNED-PAYLOAD";
inline constexpr std::string_view kEmptyBodySha256 =
    "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

/// Removes "." and ".." segments and empty segments, keeping a trailing
/// slash; the result always starts with '/'.
std::string normalizePath(std::string_view path);

/// The canonical URI of a path as sent on the wire. Storage rules: decoded
/// and encoded once, never normalised (keys may hold "//" or "."). Other
/// services: optionally normalised, then encoded on top of the wire form.
std::string canonicalUri(std::string_view wirePath, bool storageRules, bool normalize);

/// Decoded query parameters in their order of appearance; "name" without '='
/// has an empty value.
using QueryParams = std::vector<std::pair<std::string, std::string>>;
QueryParams parseQuery(std::string_view rawQuery);

/// Encodes names and values, sorts by name then value, joins with '&'.
/// X-Amz-Signature never takes part.
std::string canonicalQuery(const QueryParams& params);

/// Headers that proxies or the transport may add, drop or rewrite, and the
/// authorization header itself: never signed.
bool isUnsignableHeader(std::string_view lowercaseName);

struct CanonicalHeaders {
  std::string block;          ///< "name:value\n" lines, sorted by name
  std::string signedHeaders;  ///< names joined by ';'
};

/// Lowercases names, trims values and collapses runs of white space, merges
/// repeated names in arrival order with ','. Only headers for which
/// @p include returns true (given the lowercase name) take part.
CanonicalHeaders canonicalHeaders(const http::HttpHeaders& headers,
                                  const std::function<bool(std::string_view)>& include);

/// "<date8>/<region>/<service>/aws4_request".
std::string credentialScope(std::string_view date8, std::string_view region,
                            std::string_view service);

std::string canonicalRequest(std::string_view method, std::string_view uri, std::string_view query,
                             const CanonicalHeaders& headers, std::string_view payloadHash);

std::string stringToSign(std::string_view amzDate, std::string_view scope,
                         std::string_view canonicalRequestText);

/// The hex signature of @p stringToSignText, deriving the key from the secret
/// and the scope's date, region and service.
std::string computeSignature(std::string_view secretAccessKey, std::string_view date8,
                             std::string_view region, std::string_view service,
                             std::string_view stringToSignText);

}  // namespace corvenza::sigv4
