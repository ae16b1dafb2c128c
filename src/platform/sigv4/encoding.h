#pragma once
// Text forms used in signing: percent-encoding, compact UTC time stamps and
// the pieces of a URL.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "core/result.h"

namespace corvenza::sigv4 {

/// Percent-encodes every byte except A-Z a-z 0-9 - . _ ~ as %XX (uppercase
/// hex). With @p keepSlash, '/' stays as it is (path segments).
std::string uriEncode(std::string_view text, bool keepSlash = false);

/// Turns every valid %XX into its byte; anything else (including '+' and a
/// stray '%') is kept literally.
std::string percentDecode(std::string_view text);

/// "YYYYMMDDTHHMMSSZ" in UTC.
std::string formatAmzDate(std::chrono::system_clock::time_point time);
/// Parses "YYYYMMDDTHHMMSSZ"; nothing when the text is not exactly that.
std::optional<std::chrono::system_clock::time_point> parseAmzDate(std::string_view text);

struct UrlParts {
  std::string scheme;  ///< lowercase, e.g. "https"
  /// Host as the transport sends it in the Host header: ":port" only when the
  /// port differs from the scheme's default.
  std::string host;
  std::string path;   ///< as written in the URL, "/" when empty
  std::string query;  ///< without the '?', fragment removed
};

/// Splits an absolute URL as written (encoding::parseUrl). Fails (signing
/// error "invalid URL") when libcurl cannot read it or no host follows the
/// "//"; the error does not quote the URL.
detail::Result<UrlParts> splitUrl(std::string_view url);

}  // namespace corvenza::sigv4
