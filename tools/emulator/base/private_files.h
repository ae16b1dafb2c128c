#pragma once
// Folders and files of the data directory, which holds every identity's
// photos and measurements and the key that signs tokens: readable by their
// owner only from the moment they exist, whatever the umask.

#include <filesystem>
#include <string_view>
#include <system_error>

namespace corvenza::emulator {

/// Makes @p dir and its missing parents, each with mode 0700; existing ones
/// stay as they are. Returns the failure, or an empty error code.
std::error_code makePrivateDirectories(const std::filesystem::path& dir);

/// makePrivateDirectories(@p dir), then tightens @p dir to 0700; refused
/// (permission_denied) when it belongs to another user.
std::error_code makePrivateDataDirectory(const std::filesystem::path& dir);

/// Writes @p content into a new file beside @p target, made with mode 0600,
/// and renames it over @p target: readers see the old file or the whole new
/// one, never a part, and never one open to others. The folder must exist.
std::error_code replacePrivateFile(const std::filesystem::path& target, std::string_view content);

}  // namespace corvenza::emulator
