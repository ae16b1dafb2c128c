#pragma once
// Turns a failed libcurl transfer into a transport error.

#include <corvenza/error.h>

#include <string_view>

namespace corvenza::http {

/// The transport error for CURLcode @p curlCode of a transfer to @p url. The
/// description names at most scheme://host/path of the URL.
Error curlError(int curlCode, std::string_view url);

}  // namespace corvenza::http
