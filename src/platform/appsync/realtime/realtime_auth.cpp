#include "platform/appsync/realtime/realtime_auth.h"

#include "platform/encoding/base64.h"
#include "platform/http/http_types.h"
#include "platform/sigv4/encoding.h"
#include "platform/sigv4/signer.h"

namespace corvenza::appsync {

namespace {

constexpr std::string_view kStandardApi = "appsync-api";
constexpr std::string_view kStandardRealtime = "appsync-realtime-api";

detail::Result<nlohmann::json> sign(const RealtimeEndpoint& endpoint, std::string url,
                                    std::string body, const sigv4::Credentials& credentials,
                                    const std::string& region,
                                    std::chrono::system_clock::time_point time) {
  http::HttpRequest request;
  request.method = "POST";
  request.url = std::move(url);
  request.body = std::move(body);
  http::setHeader(request.headers, "accept", "application/json, text/javascript");
  http::setHeader(request.headers, "content-encoding", "amz-1.0");
  http::setHeader(request.headers, "content-type", "application/json; charset=UTF-8");
  http::setHeader(request.headers, "host", endpoint.apiHost);

  sigv4::SigningParams params;
  params.region = region;
  params.service = "appsync";
  params.credentials = credentials;
  params.time = time;
  auto signed_ = sigv4::signRequest(request, params);
  if (!signed_) return signed_.error();

  nlohmann::json blob = nlohmann::json::object();
  auto copy = [&](std::string_view header, const char* key) {
    if (auto value = http::findHeader(request.headers, header)) blob[key] = *value;
  };
  copy("accept", "accept");
  copy("content-encoding", "content-encoding");
  copy("content-type", "content-type");
  copy("host", "host");
  copy("x-amz-date", "x-amz-date");
  copy("x-amz-security-token", "x-amz-security-token");
  copy("authorization", "Authorization");
  return blob;
}

}  // namespace

detail::Result<RealtimeEndpoint> realtimeEndpoint(std::string_view graphqlURL) {
  auto parts = sigv4::splitUrl(graphqlURL);
  if (!parts) return parts.error();
  RealtimeEndpoint endpoint;
  endpoint.graphqlURL = std::string(graphqlURL);
  endpoint.tls = parts.value().scheme == "https";
  endpoint.apiHost = parts.value().host;
  std::string host = parts.value().host;
  std::string path = parts.value().path;
  auto colon = host.rfind(':');
  if (colon != std::string::npos && host.find(']') == std::string::npos) {
    endpoint.port = host.substr(colon + 1);
    host.resize(colon);
  } else {
    endpoint.port = endpoint.tls ? "443" : "80";
  }
  std::string socketHost = parts.value().host;
  if (auto at = host.find(kStandardApi); at != std::string::npos) {
    host.replace(at, kStandardApi.size(), kStandardRealtime);
    socketHost.replace(at, kStandardApi.size(), kStandardRealtime);
  } else {
    if (!path.empty() && path.back() == '/') path.pop_back();
    path += "/realtime";
  }
  endpoint.host = host;
  endpoint.path = path;
  endpoint.url = std::string(endpoint.tls ? "wss://" : "ws://") + socketHost + path;
  return endpoint;
}

detail::Result<nlohmann::json> connectAuthorization(const RealtimeEndpoint& endpoint,
                                                    const sigv4::Credentials& credentials,
                                                    const std::string& region,
                                                    std::chrono::system_clock::time_point time) {
  return sign(endpoint, endpoint.graphqlURL + "/connect", "{}", credentials, region, time);
}

detail::Result<nlohmann::json> startAuthorization(const RealtimeEndpoint& endpoint,
                                                  const std::string& data,
                                                  const sigv4::Credentials& credentials,
                                                  const std::string& region,
                                                  std::chrono::system_clock::time_point time) {
  return sign(endpoint, endpoint.graphqlURL, data, credentials, region, time);
}

std::string handshakeQuery(const nlohmann::json& authorization) {
  return "?header=" + encoding::base64Encode(authorization.dump()) + "&payload=e30=";
}

}  // namespace corvenza::appsync
