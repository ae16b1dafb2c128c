#include "platform/sigv4/canonical.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "platform/sigv4/crypto.h"
#include "platform/sigv4/encoding.h"

namespace corvenza::sigv4 {

namespace {

std::string toLower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string trimAndCollapse(std::string_view value) {
  std::string out;
  bool pendingSpace = false;
  for (char c : value) {
    if (isSpace(c)) {
      pendingSpace = !out.empty();
      continue;
    }
    if (pendingSpace) out.push_back(' ');
    pendingSpace = false;
    out.push_back(c);
  }
  return out;
}

}  // namespace

std::string normalizePath(std::string_view path) {
  std::vector<std::string_view> segments;
  size_t start = 0;
  while (start <= path.size()) {
    const auto slash = path.find('/', start);
    const auto end = slash == std::string_view::npos ? path.size() : slash;
    const auto segment = path.substr(start, end - start);
    if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
    } else if (!segment.empty() && segment != ".") {
      segments.push_back(segment);
    }
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  std::string out;
  for (auto segment : segments) {
    out += '/';
    out += segment;
  }
  const bool trailingSlash = !path.empty() && path.back() == '/';
  if (out.empty() || trailingSlash) out += '/';
  return out;
}

std::string canonicalUri(std::string_view wirePath, bool storageRules, bool normalize) {
  if (wirePath.empty()) return "/";
  if (storageRules) return uriEncode(percentDecode(wirePath), /*keepSlash=*/true);
  const std::string path = normalize ? normalizePath(wirePath) : std::string(wirePath);
  return uriEncode(path, /*keepSlash=*/true);
}

QueryParams parseQuery(std::string_view rawQuery) {
  QueryParams params;
  size_t start = 0;
  while (start <= rawQuery.size()) {
    const auto amp = rawQuery.find('&', start);
    const auto end = amp == std::string_view::npos ? rawQuery.size() : amp;
    const auto pair = rawQuery.substr(start, end - start);
    if (!pair.empty()) {
      const auto eq = pair.find('=');
      if (eq == std::string_view::npos) {
        params.emplace_back(percentDecode(pair), std::string());
      } else {
        params.emplace_back(percentDecode(pair.substr(0, eq)), percentDecode(pair.substr(eq + 1)));
      }
    }
    if (amp == std::string_view::npos) break;
    start = amp + 1;
  }
  return params;
}

std::string canonicalQuery(const QueryParams& params) {
  std::vector<std::pair<std::string, std::string>> encoded;
  encoded.reserve(params.size());
  for (const auto& [name, value] : params) {
    if (name == "X-Amz-Signature") continue;
    encoded.emplace_back(uriEncode(name), uriEncode(value));
  }
  std::sort(encoded.begin(), encoded.end());
  std::string out;
  for (const auto& [name, value] : encoded) {
    if (!out.empty()) out += '&';
    out += name;
    out += '=';
    out += value;
  }
  return out;
}

bool isUnsignableHeader(std::string_view name) {
  static constexpr std::string_view kSkipped[] = {"authorization",
                                                  "user-agent",
                                                  "x-amzn-trace-id",
                                                  "connection",
                                                  "expect",
                                                  "transfer-encoding",
                                                  "upgrade",
                                                  "sec-websocket-key",
                                                  "sec-websocket-protocol",
                                                  "sec-websocket-version",
                                                  "proxy-authorization",
                                                  "keep-alive"};
  return std::find(std::begin(kSkipped), std::end(kSkipped), name) != std::end(kSkipped);
}

CanonicalHeaders canonicalHeaders(const http::HttpHeaders& headers,
                                  const std::function<bool(std::string_view)>& include) {
  std::map<std::string, std::string> merged;
  for (const auto& [name, value] : headers) {
    auto lower = toLower(name);
    if (!include(lower)) continue;
    auto [it, inserted] = merged.try_emplace(std::move(lower), trimAndCollapse(value));
    if (!inserted) it->second += "," + trimAndCollapse(value);
  }
  CanonicalHeaders out;
  for (const auto& [name, value] : merged) {
    out.block += name + ":" + value + "\n";
    if (!out.signedHeaders.empty()) out.signedHeaders += ';';
    out.signedHeaders += name;
  }
  return out;
}

std::string credentialScope(std::string_view date8, std::string_view region,
                            std::string_view service) {
  return std::string(date8) + "/" + std::string(region) + "/" + std::string(service) +
         "/aws4_request";
}

std::string canonicalRequest(std::string_view method, std::string_view uri, std::string_view query,
                             const CanonicalHeaders& headers, std::string_view payloadHash) {
  std::string out;
  out.reserve(256 + headers.block.size() + query.size());
  out.append(method).append("\n");
  out.append(uri).append("\n");
  out.append(query).append("\n");
  out.append(headers.block).append("\n");
  out.append(headers.signedHeaders).append("\n");
  out.append(payloadHash);
  return out;
}

std::string stringToSign(std::string_view amzDate, std::string_view scope,
                         std::string_view canonicalRequestText) {
  std::string out(kAlgorithm);
  out.append("\n").append(amzDate).append("\n").append(scope).append("\n");
  out.append(sha256Hex(canonicalRequestText));
  return out;
}

std::string computeSignature(std::string_view secretAccessKey, std::string_view date8,
                             std::string_view region, std::string_view service,
                             std::string_view stringToSignText) {
  const std::string kDate = hmacSha256("AWS4" + std::string(secretAccessKey), date8);
  const std::string kRegion = hmacSha256(kDate, region);
  const std::string kService = hmacSha256(kRegion, service);
  const std::string kSigning = hmacSha256(kService, "aws4_request");
  return hex(hmacSha256(kSigning, stringToSignText));
}

}  // namespace corvenza::sigv4
