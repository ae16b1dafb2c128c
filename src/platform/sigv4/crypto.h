#pragma once
// Hashing and keyed hashing for request signing.

#include <filesystem>
#include <string>
#include <string_view>

#include "core/result.h"

namespace corvenza::sigv4 {

/// Lowercase hexadecimal form of @p bytes.
std::string hex(std::string_view bytes);

/// Raw 32-byte SHA-256 digest of @p data.
std::string sha256(std::string_view data);
/// Lowercase hex SHA-256 digest of @p data.
std::string sha256Hex(std::string_view data);
/// Lowercase hex SHA-256 digest of a file's content, read in chunks so large
/// uploads are never held in memory. Fails when the file cannot be read.
detail::Result<std::string> sha256FileHex(const std::filesystem::path& file);

/// Raw 32-byte HMAC-SHA256 of @p data under @p key.
std::string hmacSha256(std::string_view key, std::string_view data);

/// Equality that takes the same time wherever the inputs differ, for
/// comparing signatures without leaking how much of a guess was right.
bool constantTimeEquals(std::string_view a, std::string_view b);

}  // namespace corvenza::sigv4
