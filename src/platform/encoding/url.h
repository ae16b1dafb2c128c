#pragma once
// The parts of a URL as libcurl reads it, for whoever checks, signs or
// shows a URL before libcurl sends it.

#include <optional>
#include <string>
#include <string_view>

namespace corvenza::encoding {

struct Url {
  std::string scheme;  ///< lower case, e.g. "https"
  std::string host;    ///< an IPv6 address in brackets
  std::string port;    ///< the number the URL names; empty when it names none
  std::string path;    ///< "/" when the URL has none
  std::string query;   ///< without the '?'; empty when there is none
};

enum class UrlReading {
  /// As libcurl fetches it: a scheme it speaks, no spaces, dot segments
  /// resolved.
  fetch,
  /// As written, for signing: any scheme, spaces allowed, the path untouched.
  asWritten,
};

/// The parts of @p url, or nothing when libcurl cannot read it or it names
/// no host. The fragment is dropped.
std::optional<Url> parseUrl(std::string_view url, UrlReading reading);

}  // namespace corvenza::encoding
