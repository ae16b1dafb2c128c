#include "platform/sigv4/signer.h"

#include <algorithm>
#include <cctype>

#include "platform/sigv4/canonical.h"
#include "platform/sigv4/crypto.h"
#include "platform/sigv4/encoding.h"
#include "platform/sigv4/signing_error.h"

namespace corvenza::sigv4 {

namespace {

constexpr std::string_view kDateHeader = "X-Amz-Date";
constexpr std::string_view kTokenHeader = "X-Amz-Security-Token";
constexpr std::string_view kContentHashHeader = "x-amz-content-sha256";

bool signable(std::string_view lowercaseName) { return !isUnsignableHeader(lowercaseName); }

detail::Status checkCredentials(const SigningParams& params) {
  if (params.credentials.accessKeyId.empty() || params.credentials.secretAccessKey.empty()) {
    return signingError(SigningErrorCode::missingCredentials,
                        "No credentials are available to sign the request.");
  }
  return detail::okStatus();
}

detail::Result<std::string> payloadHash(const http::HttpRequest& request,
                                        const SigningParams& params) {
  if (params.storageRules && params.unsignedPayload) return std::string(kUnsignedPayload);
  if (request.bodyFile) return sha256FileHex(*request.bodyFile);
  return sha256Hex(request.body);
}

void ensureHost(http::HttpRequest& request, const UrlParts& url) {
  if (!http::findHeader(request.headers, "host")) request.headers.emplace_back("Host", url.host);
}

// Both forms share everything after the headers and query are in place.
SigningResult finishSigning(const http::HttpRequest& request, const UrlParts& url,
                            const QueryParams& query, const SigningParams& params,
                            const std::string& amzDate, const std::string& hash) {
  SigningResult result;
  const auto headers = canonicalHeaders(request.headers, signable);
  const auto uri = canonicalUri(url.path, params.storageRules, params.normalizePath);
  result.canonicalRequest =
      canonicalRequest(request.method, uri, canonicalQuery(query), headers, hash);
  const auto date8 = amzDate.substr(0, 8);
  result.stringToSign = stringToSign(amzDate, credentialScope(date8, params.region, params.service),
                                     result.canonicalRequest);
  result.signature = computeSignature(params.credentials.secretAccessKey, date8, params.region,
                                      params.service, result.stringToSign);
  result.signedHeaders = headers.signedHeaders;
  return result;
}

std::string withoutFragment(std::string_view url) {
  return std::string(url.substr(0, url.find('#')));
}

void appendParam(std::string& url, std::string_view name, std::string_view value) {
  const char last = url.empty() ? '\0' : url.back();
  if (url.find('?') == std::string::npos) {
    url += '?';
  } else if (last != '?' && last != '&') {
    url += '&';
  }
  url += name;
  url += '=';
  url += uriEncode(value);
}

}  // namespace

detail::Result<SigningResult> signRequest(http::HttpRequest& request, const SigningParams& params) {
  if (auto status = checkCredentials(params); !status) return status.error();
  auto url = splitUrl(request.url);
  if (!url) return url.error();
  auto hash = payloadHash(request, params);
  if (!hash) return hash.error();

  for (auto name :
       {std::string_view("authorization"), kDateHeader, kTokenHeader, kContentHashHeader}) {
    http::removeHeader(request.headers, name);
  }
  ensureHost(request, *url);
  const auto& token = params.credentials.sessionToken;
  if (!token.empty() && !params.omitSessionToken) {
    request.headers.emplace_back(kTokenHeader, token);
  }
  const auto amzDate = formatAmzDate(params.time);
  request.headers.emplace_back(kDateHeader, amzDate);
  if (params.storageRules || params.signBody) {
    request.headers.emplace_back(kContentHashHeader, *hash);
  }

  auto result = finishSigning(request, *url, parseQuery(url->query), params, amzDate, *hash);

  if (!token.empty() && params.omitSessionToken) {
    // Sent, but added after the signature was computed so it is not covered.
    auto date = std::find_if(request.headers.begin(), request.headers.end(),
                             [](const auto& h) { return h.first == kDateHeader; });
    request.headers.emplace(date, kTokenHeader, token);
  }
  const auto scope = credentialScope(amzDate.substr(0, 8), params.region, params.service);
  request.headers.emplace_back(
      "Authorization", std::string(kAlgorithm) + " Credential=" + params.credentials.accessKeyId +
                           "/" + scope + ", SignedHeaders=" + result.signedHeaders +
                           ", Signature=" + result.signature);
  return result;
}

detail::Result<SigningResult> presignRequest(http::HttpRequest& request,
                                             const SigningParams& params,
                                             std::chrono::seconds expires) {
  if (auto status = checkCredentials(params); !status) return status.error();
  if (expires < std::chrono::seconds(1) || expires > kMaxPresignLifetime) {
    return signingError(SigningErrorCode::invalidExpiry,
                        "A presigned URL must live between 1 second and 7 days.");
  }
  auto url = splitUrl(request.url);
  if (!url) return url.error();
  const std::string hash =
      params.storageRules ? std::string(kUnsignedPayload) : sha256Hex(request.body);
  ensureHost(request, *url);

  const auto amzDate = formatAmzDate(params.time);
  const auto scope = credentialScope(amzDate.substr(0, 8), params.region, params.service);
  const auto headers = canonicalHeaders(request.headers, signable);
  const auto& token = params.credentials.sessionToken;
  const bool signToken = !token.empty() && !params.omitSessionToken;

  // Appended in this order; canonicalisation sorts them anyway.
  QueryParams added = {
      {"X-Amz-Algorithm", std::string(kAlgorithm)},
      {"X-Amz-Credential", params.credentials.accessKeyId + "/" + scope},
      {"X-Amz-Date", amzDate},
      {"X-Amz-SignedHeaders", headers.signedHeaders},
      {"X-Amz-Expires", std::to_string(expires.count())},
  };
  if (signToken) added.emplace_back("X-Amz-Security-Token", token);

  auto query = parseQuery(url->query);
  query.insert(query.end(), added.begin(), added.end());
  auto result = finishSigning(request, *url, query, params, amzDate, hash);

  std::string signedUrl = withoutFragment(request.url);
  for (const auto& [name, value] : added) appendParam(signedUrl, name, value);
  if (!token.empty() && !signToken) appendParam(signedUrl, "X-Amz-Security-Token", token);
  appendParam(signedUrl, "X-Amz-Signature", result.signature);
  request.url = std::move(signedUrl);
  return result;
}

detail::Result<std::string> presignUrl(std::string_view method, std::string_view url,
                                       const SigningParams& params, std::chrono::seconds expires) {
  http::HttpRequest request;
  request.method = std::string(method);
  request.url = std::string(url);
  auto result = presignRequest(request, params, expires);
  if (!result) return result.error();
  return std::move(request.url);
}

}  // namespace corvenza::sigv4
