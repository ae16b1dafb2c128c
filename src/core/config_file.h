#pragma once
// Reading the configuration file with the care due to outside input.

#include <cstddef>
#include <filesystem>
#include <string>

#include "core/result.h"

namespace corvenza::detail {

/// Largest configuration file read; anything bigger is not a configuration.
inline constexpr std::size_t kMaxConfigurationBytes = 1 << 20;

/// The file's bytes. Refuses, before reading, what is not a regular file (a
/// FIFO would block for ever) and files over kMaxConfigurationBytes. Errors
/// (domain "CorvenzaFileError") say why in words, never quoting the file.
Result<std::string> readConfigurationFile(const std::filesystem::path& path);

}  // namespace corvenza::detail
