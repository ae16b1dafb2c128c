#pragma once
// Folders only this OS user can enter: where the library keeps tokens, the
// offline cache and photos on their way to storage.

#include <filesystem>

#include "core/result.h"

namespace corvenza::device {

/// Domain of the errors about private files and folders.
inline constexpr const char* kFileErrorDomain = "CorvenzaFileError";

/// $CORVENZA_KEYCHAIN_DIR, else $XDG_DATA_HOME/corvenza, else
/// <home>/.local/share/corvenza: where tokens (and what must survive a cache
/// clean) are kept.
std::filesystem::path defaultDataDirectory();

/// $CORVENZA_CACHE_DIR, else $XDG_CACHE_HOME/corvenza, else
/// <home>/.cache/corvenza: what may be wiped at any time.
std::filesystem::path defaultCacheDirectory();

/// Makes @p directory (missing parents too, each with mode 0700) and checks
/// that it is a directory of this user, not a symbolic link; permissions
/// looser than 0700 on it are tightened. Fails, naming the problem but not
/// the path, when another user owns it or it cannot be made private.
detail::Result<std::filesystem::path> ensurePrivateDirectory(
    const std::filesystem::path& directory);

}  // namespace corvenza::device
