#pragma once
// Where the real-time socket lives and how it proves who is connecting: the
// socket URL derived from the GraphQL endpoint, and the signed header blob
// sent with the handshake and with every start.

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "core/result.h"
#include "platform/sigv4/credentials.h"

namespace corvenza::appsync {

struct RealtimeEndpoint {
  bool tls = true;         ///< wss (true) or ws
  std::string host;        ///< socket host name, without port
  std::string port;        ///< explicit or the scheme's default
  std::string path;        ///< socket path, e.g. "/graphql" or "/graphql/realtime"
  std::string url;         ///< the whole socket URL, without query
  std::string apiHost;     ///< the GraphQL host (":port" when not default): the signed host
  std::string graphqlURL;  ///< the GraphQL endpoint itself
};

/// The standard "appsync-api" host becomes "appsync-realtime-api" on the same
/// path; any other host gets "/realtime" appended. https → wss, http → ws.
detail::Result<RealtimeEndpoint> realtimeEndpoint(std::string_view graphqlURL);

/// The handshake's signed blob: a virtual POST of "{}" to <endpoint>/connect.
/// Holds accept, content-encoding, content-type, host, x-amz-date,
/// x-amz-security-token (temporary credentials only) and Authorization.
detail::Result<nlohmann::json> connectAuthorization(const RealtimeEndpoint& endpoint,
                                                    const sigv4::Credentials& credentials,
                                                    const std::string& region,
                                                    std::chrono::system_clock::time_point time);

/// A start's signed blob: a virtual POST of exactly @p data to the endpoint.
detail::Result<nlohmann::json> startAuthorization(const RealtimeEndpoint& endpoint,
                                                  const std::string& data,
                                                  const sigv4::Credentials& credentials,
                                                  const std::string& region,
                                                  std::chrono::system_clock::time_point time);

/// "?header=<base64 blob>&payload=e30=" for the socket URL.
std::string handshakeQuery(const nlohmann::json& authorization);

}  // namespace corvenza::appsync
