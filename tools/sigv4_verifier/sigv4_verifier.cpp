#include "sigv4_verifier.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <vector>

#include "platform/sigv4/canonical.h"
#include "platform/sigv4/clock_skew.h"
#include "platform/sigv4/crypto.h"
#include "platform/sigv4/encoding.h"

namespace corvenza::sigv4 {

namespace {

// What either form carries: the claimed signature and what it covers.
struct Claim {
  std::string accessKeyId;
  std::string date8;
  std::string region;
  std::string service;
  std::string signedHeaders;
  std::string signature;
  std::string amzDate;
  std::string sessionToken;
  std::chrono::seconds expires{0};
  bool presigned = false;
};

Verification fail(VerificationStatus status, std::string message) {
  Verification v;
  v.status = status;
  v.message = std::move(message);
  return v;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    const auto at = text.find(separator, start);
    parts.push_back(text.substr(start, at - start));
    if (at == std::string_view::npos) return parts;
    start = at + 1;
  }
}

// "<akid>/<date8>/<region>/<service>/aws4_request"
bool parseCredential(std::string_view credential, Claim& claim) {
  const auto parts = split(credential, '/');
  if (parts.size() != 5 || parts[4] != "aws4_request") return false;
  if (std::any_of(parts.begin(), parts.begin() + 4, [](auto p) { return p.empty(); })) {
    return false;
  }
  claim.accessKeyId = parts[0];
  claim.date8 = parts[1];
  claim.region = parts[2];
  claim.service = parts[3];
  return true;
}

bool isLowerHex(std::string_view text, size_t length) {
  return text.size() == length && std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

std::optional<Claim> parseAuthorizationHeader(std::string_view header) {
  const std::string prefix = std::string(kAlgorithm) + " ";
  if (!header.starts_with(prefix)) return std::nullopt;
  Claim claim;
  bool haveCredential = false;
  for (auto element : split(header.substr(prefix.size()), ',')) {
    element = trim(element);
    const auto eq = element.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    const auto name = element.substr(0, eq);
    const auto value = element.substr(eq + 1);
    if (name == "Credential") {
      haveCredential = parseCredential(value, claim);
      if (!haveCredential) return std::nullopt;
    } else if (name == "SignedHeaders") {
      claim.signedHeaders = value;
    } else if (name == "Signature") {
      claim.signature = value;
    } else {
      return std::nullopt;
    }
  }
  if (!haveCredential || claim.signedHeaders.empty() || claim.signature.empty()) {
    return std::nullopt;
  }
  return claim;
}

std::optional<std::string> queryValue(const QueryParams& params, std::string_view name) {
  for (const auto& [key, value] : params) {
    if (key == name) return value;
  }
  return std::nullopt;
}

std::optional<Claim> parsePresignedQuery(const QueryParams& params) {
  Claim claim;
  claim.presigned = true;
  const auto algorithm = queryValue(params, "X-Amz-Algorithm");
  const auto credential = queryValue(params, "X-Amz-Credential");
  const auto date = queryValue(params, "X-Amz-Date");
  const auto expires = queryValue(params, "X-Amz-Expires");
  const auto signedHeaders = queryValue(params, "X-Amz-SignedHeaders");
  const auto signature = queryValue(params, "X-Amz-Signature");
  if (!algorithm || *algorithm != kAlgorithm || !credential || !date || !expires ||
      !signedHeaders || !signature || !parseCredential(*credential, claim)) {
    return std::nullopt;
  }
  long long seconds = 0;
  const auto* end = expires->data() + expires->size();
  if (std::from_chars(expires->data(), end, seconds).ptr != end || seconds < 1 ||
      seconds > kMaxPresignLifetime.count()) {
    return std::nullopt;
  }
  claim.expires = std::chrono::seconds(seconds);
  claim.amzDate = *date;
  claim.signedHeaders = *signedHeaders;
  claim.signature = *signature;
  claim.sessionToken = queryValue(params, "X-Amz-Security-Token").value_or("");
  return claim;
}

}  // namespace

std::string_view statusCode(VerificationStatus status) {
  switch (status) {
    case VerificationStatus::verified:
      return "OK";
    case VerificationStatus::missingAuthentication:
      return "MissingAuthenticationToken";
    case VerificationStatus::malformed:
      return "AuthorizationHeaderMalformed";
    case VerificationStatus::unknownAccessKey:
      return "InvalidAccessKeyId";
    case VerificationStatus::invalidSessionToken:
      return "InvalidToken";
    case VerificationStatus::signatureMismatch:
      return "SignatureDoesNotMatch";
    case VerificationStatus::contentHashMismatch:
      return "XAmzContentSHA256Mismatch";
    case VerificationStatus::expired:
      return "RequestExpired";
    case VerificationStatus::requestTimeSkewed:
      return "RequestTimeTooSkewed";
  }
  return "AccessDenied";
}

Verification verifyRequest(const ReceivedRequest& request, const VerifierOptions& options,
                           std::chrono::system_clock::time_point now) {
  using S = VerificationStatus;
  const auto question = request.target.find('?');
  const std::string_view path = std::string_view(request.target).substr(0, question);
  const std::string_view rawQuery = question == std::string::npos
                                        ? std::string_view{}
                                        : std::string_view(request.target).substr(question + 1);
  const auto query = parseQuery(rawQuery);

  // 1. Which form, and is it readable?
  std::optional<Claim> claim;
  if (auto header = http::findHeader(request.headers, "authorization")) {
    claim = parseAuthorizationHeader(*header);
    if (!claim) return fail(S::malformed, "The Authorization header is malformed.");
    if (auto amzDate = http::findHeader(request.headers, "x-amz-date")) {
      claim->amzDate = *amzDate;
    } else if (auto date = http::findHeader(request.headers, "date")) {
      if (auto parsed = parseHttpDate(*date)) claim->amzDate = formatAmzDate(*parsed);
    }
    claim->sessionToken = http::findHeader(request.headers, "x-amz-security-token").value_or("");
  } else if (queryValue(query, "X-Amz-Signature")) {
    claim = parsePresignedQuery(query);
    if (!claim) return fail(S::malformed, "The presigned URL's parameters are malformed.");
  } else {
    return fail(S::missingAuthentication, "The request is not signed.");
  }

  const auto signedAt = parseAmzDate(claim->amzDate);
  if (!signedAt) return fail(S::malformed, "The request carries no valid signing date.");
  if (claim->amzDate.substr(0, 8) != claim->date8) {
    return fail(S::malformed, "The credential scope's date is not the signing date.");
  }
  if (!options.service.empty() && claim->service != options.service) {
    return fail(S::malformed, "The credential scope names the wrong service.");
  }
  if (!isLowerHex(claim->signature, 64)) return fail(S::malformed, "The signature is malformed.");

  // 2. Whose key?
  const auto credentials = options.lookup ? options.lookup(claim->accessKeyId) : std::nullopt;
  if (!credentials) return fail(S::unknownAccessKey, "The access key id is not known.");

  // 3. Is it the right time?
  if (claim->presigned) {
    if (*signedAt - now > options.allowedSkew) {
      return fail(S::requestTimeSkewed, "The presigned URL is dated in the future.");
    }
    if (now > *signedAt + claim->expires) return fail(S::expired, "The presigned URL has expired.");
  } else {
    const auto difference = now - *signedAt;
    if (difference > options.allowedSkew || -difference > options.allowedSkew) {
      return fail(S::requestTimeSkewed,
                  "The difference between the request time and the current time is too large.");
    }
  }

  // 4. A temporary key only works with its own token.
  if (!credentials->sessionToken.empty() || !claim->sessionToken.empty()) {
    if (!constantTimeEquals(credentials->sessionToken, claim->sessionToken)) {
      return fail(S::invalidSessionToken, "The security token is missing or not valid.");
    }
  }

  // 5. The signed headers must all be there, host among them.
  const auto names = split(claim->signedHeaders, ';');
  if (std::find(names.begin(), names.end(), "host") == names.end()) {
    return fail(S::malformed, "The host header must be signed.");
  }
  const auto headers = canonicalHeaders(request.headers, [&](std::string_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
  });
  if (headers.signedHeaders != claim->signedHeaders) {
    return fail(S::malformed, "A signed header is missing or the list is not in order.");
  }

  // 6. What the payload line says, and does the body agree?
  const std::string bodyHash = request.bodySha256 ? *request.bodySha256 : sha256Hex(request.body);
  std::string payload = bodyHash;
  if (claim->presigned) {
    if (options.storageRules) payload = kUnsignedPayload;
  } else if (auto declared = http::findHeader(request.headers, "x-amz-content-sha256")) {
    if (*declared != kUnsignedPayload) {
      if (!isLowerHex(*declared, 64)) {
        return fail(S::malformed, "x-amz-content-sha256 is neither a hash nor UNSIGNED-PAYLOAD.");
      }
      if (*declared != bodyHash) {
        return fail(S::contentHashMismatch, "The body's hash does not match x-amz-content-sha256.");
      }
    }
    payload = *declared;
  } else if (options.storageRules) {
    return fail(S::malformed, "The x-amz-content-sha256 header is required.");
  }

  // 7. The signature itself.
  const auto uri = canonicalUri(path, options.storageRules, options.normalizePath);
  const auto canonical =
      canonicalRequest(request.method, uri, canonicalQuery(query), headers, payload);
  const auto toSign = stringToSign(
      claim->amzDate, credentialScope(claim->date8, claim->region, claim->service), canonical);
  const auto expected = computeSignature(credentials->secretAccessKey, claim->date8, claim->region,
                                         claim->service, toSign);
  if (!constantTimeEquals(expected, claim->signature)) {
    return fail(S::signatureMismatch,
                "The signature does not match the request and the key's secret.");
  }

  Verification verified;
  verified.status = S::verified;
  verified.message = "Verified.";
  verified.accessKeyId = claim->accessKeyId;
  verified.sessionToken = claim->sessionToken;
  verified.region = claim->region;
  verified.presigned = claim->presigned;
  return verified;
}

}  // namespace corvenza::sigv4
