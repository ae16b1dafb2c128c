#pragma once
// Base64 in its standard and URL-safe alphabets, on OpenSSL's codec. The
// decoders take text with or without its '=' padding and refuse any
// character outside their alphabet.

#include <optional>
#include <string>
#include <string_view>

namespace corvenza::encoding {

/// Standard base64 with '=' padding.
std::string base64Encode(std::string_view bytes);
/// Standard base64. A lone last character, which holds no whole byte, is
/// ignored.
std::optional<std::string> base64Decode(std::string_view text);

/// Base64url without padding, as JSON Web Tokens use it.
std::string base64UrlEncode(std::string_view bytes);
/// Base64url; nothing also for a length no encoder makes (a lone last
/// character).
std::optional<std::string> base64UrlDecode(std::string_view text);

}  // namespace corvenza::encoding
