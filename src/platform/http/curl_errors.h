#pragma once
// Turns a failed libcurl transfer into a transport error.

#include <corvenza/error.h>

#include <string_view>

namespace corvenza::http {

/// The transport error for CURLcode @p curlCode of a transfer to @p url. The
/// description names at most scheme://host/path of the URL.
Error curlError(int curlCode, std::string_view url);

/// The transport error for a proxy that answered the CONNECT of a transfer
/// to @p url with @p status. @p proxy is the one the request named, empty
/// when libcurl took it from the environment.
Error proxyRefusalError(long status, std::string_view url, std::string_view proxy);

}  // namespace corvenza::http
