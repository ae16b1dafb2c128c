#include "platform/http/curl_errors.h"

#include <curl/curl.h>

#include <string>

#include "platform/encoding/url.h"
#include "platform/http/http_transport.h"
#include "platform/http/proxy_route.h"

namespace corvenza::http {

namespace {

struct Mapped {
  int code;
  const char* text;
};

Mapped mapCurlCode(int curlCode) {
  switch (static_cast<CURLcode>(curlCode)) {
    case CURLE_OPERATION_TIMEDOUT:
      return {kTransportTimedOut, "The request timed out"};
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return {kTransportCannotFindHost, "A server with the specified hostname could not be found"};
    case CURLE_COULDNT_CONNECT:
      return {kTransportCannotConnect, "Could not connect to the server"};
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      return {kTransportConnectionLost, "The network connection was lost"};
    case CURLE_PEER_FAILED_VERIFICATION:
      return {kTransportTLSFailure,
              "The server's certificate is not trusted: it is not signed by an authority of the "
              "trust store (AWS_CA_BUNDLE or the client's CA bundle, else the system's), or it "
              "names another host"};
    case CURLE_SSL_CACERT_BADFILE:
      return {kTransportTLSFailure, "The CA bundle to trust cannot be read"};
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_USE_SSL_FAILED:
      return {kTransportTLSFailure,
              "A TLS error occurred and a secure connection to the server cannot be made"};
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
      return {kTransportBadURL, "Unsupported or malformed URL"};
    case CURLE_READ_ERROR:
      return {kTransportFileError, "The body file cannot be read"};
    case CURLE_WRITE_ERROR:
      return {kTransportFileError, "The response file cannot be written"};
    case CURLE_ABORTED_BY_CALLBACK:
      return {kTransportCancelled, "The request was cancelled"};
    case CURLE_SEND_FAIL_REWIND:
      // The service closed a reused connection during an upload; libcurl
      // would send it again but cannot rewind a body read from a file.
      return {kTransportUnknown, "The connection was cut during the upload"};
    default:
      return {kTransportUnknown, nullptr};
  }
}

}  // namespace

Error curlError(int curlCode, std::string_view url) {
  const Mapped mapped = mapCurlCode(curlCode);
  std::string description = mapped.text != nullptr
                                ? std::string(mapped.text)
                                : std::string("The transfer failed: ") +
                                      curl_easy_strerror(static_cast<CURLcode>(curlCode));
  description += " (" + redactedUrl(url) + ")";
  return makeTransportError(mapped.code, std::move(description));
}

Error proxyRefusalError(long status, std::string_view url, std::string_view proxy) {
  const auto parts = encoding::parseUrl(url, encoding::UrlReading::fetch);
  const std::string scheme = parts ? parts->scheme : "https";
  const std::string host = parts ? parts->host : "the server";
  const std::string port = !parts                 ? ""
                           : !parts->port.empty() ? parts->port
                           : scheme == "http"     ? "80"
                                                  : "443";
  std::string shown = proxy.empty() ? std::string() : withoutCredentials(proxy);
  if (shown.empty()) {
    // The proxy libcurl found in the environment; the host is bare for the lookup.
    const auto bare =
        host.size() > 2 && host.front() == '[' ? host.substr(1, host.size() - 2) : host;
    const auto route = proxyFor(scheme, bare);
    if (route.ok() && route.value()) shown = route.value()->shown;
  }
  std::string text = (shown.empty() ? "The proxy" : "The proxy " + shown) +
                     " refused the tunnel to " + host + (port.empty() ? "" : ":" + port) + ": " +
                     std::to_string(status);
  // Asking again with the same credentials cannot help.
  const bool credentials = status == 401 || status == 407;
  if (credentials) text += " (the proxy wants a user name and password it accepts)";
  return makeTransportError(credentials ? kTransportUnknown : kTransportCannotConnect,
                            std::move(text));
}

}  // namespace corvenza::http
