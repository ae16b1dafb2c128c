#pragma once
// Which proxy a connection goes through, decided the way libcurl decides it
// from the environment, for the connections libcurl does not make (the
// real-time WebSocket): an HTTP CONNECT tunnel is then opened through it.

#include <optional>
#include <string>
#include <string_view>

#include "core/result.h"

namespace corvenza::http {

struct ProxyRoute {
  std::string host;  ///< as a resolver takes it: an IPv6 address without brackets
  std::string port;  ///< 1080 when the URL names none, like libcurl
  /// "Basic ..." from the URL's user name and password; empty without them.
  std::string authorization;
  /// The proxy's URL without user name and password: safe to show.
  std::string shown;
};

/// The proxy for a connection to @p host by @p scheme ("https"/"wss" or
/// "http"/"ws"): @p configured when it is set, else the process's setting
/// (see processConnectionSettings), else https_proxy/HTTPS_PROXY
/// (https, wss) or http_proxy (http, ws), else all_proxy/ALL_PROXY. None when
/// no_proxy/NO_PROXY names the host: "*" every host, a name itself and its
/// subdomains, an address itself. Fails for a proxy that cannot be used
/// (a URL that is not http://).
detail::Result<std::optional<ProxyRoute>> proxyFor(std::string_view scheme, std::string_view host,
                                                   std::string_view configured = {});

/// @p url with any user name and password left out, for messages and logs.
std::string withoutCredentials(std::string_view url);

}  // namespace corvenza::http
