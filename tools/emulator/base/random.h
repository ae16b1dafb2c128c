#pragma once
// Randomness shared by the emulator's services: keys, tokens and ids.

#include <cstddef>
#include <string>
#include <string_view>

namespace corvenza::emulator {

/// @p count bytes from the operating system's CSPRNG.
std::string randomBytes(std::size_t count);
/// @p count characters drawn uniformly from @p alphabet.
std::string randomString(std::size_t count, std::string_view alphabet);
/// A random version-4 UUID in lower-case canonical form.
std::string randomUuid();
/// A version-4-shaped UUID made from the first 16 bytes of @p bytes.
std::string uuidFromBytes(std::string_view bytes);

}  // namespace corvenza::emulator
