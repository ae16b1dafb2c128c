#pragma once
/// @file
/// The library's version.

namespace corvenza {

/// The version of the library, as "major.minor.patch".
const char* versionString() noexcept;

}  // namespace corvenza
