#include "platform/http/curl_errors.h"

#include <curl/curl.h>

#include <string>

#include "platform/http/http_transport.h"

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

}  // namespace corvenza::http
