#pragma once
// Byte encodings and randomness shared by the emulator's services.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace corvenza::emulator {

/// Standard base64 with '=' padding.
std::string base64Encode(std::string_view bytes);
/// Base64url without padding, as JSON Web Tokens use it.
std::string base64UrlEncode(std::string_view bytes);
/// Decodes base64url; padding is tolerated. Nothing on a character outside the alphabet.
std::optional<std::string> base64UrlDecode(std::string_view text);

/// @p count bytes from the operating system's CSPRNG.
std::string randomBytes(std::size_t count);
/// @p count characters drawn uniformly from @p alphabet.
std::string randomString(std::size_t count, std::string_view alphabet);
/// A random version-4 UUID in lower-case canonical form.
std::string randomUuid();
/// A version-4-shaped UUID made from the first 16 bytes of @p bytes.
std::string uuidFromBytes(std::string_view bytes);

/// HMAC-SHA256 of @p data under @p key, raw bytes.
std::string hmacSha256(std::string_view key, std::string_view data);
/// Compares in time independent of where the inputs differ.
bool constantTimeEquals(std::string_view a, std::string_view b);

}  // namespace corvenza::emulator
