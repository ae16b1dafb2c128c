#pragma once
// Where a photo to upload lies on this machine: the one reading of "localUri"
// shared by the input objects and the GraphQL client's uploads.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace corvenza::detail {

/// The local file @p uri names: a plain path (taken as it is), or a "file:"
/// URL ("file:///p", "file://localhost/p" or "file:/p") whose path is
/// percent-decoded and whose query and fragment are dropped. Nothing for
/// another scheme, another host, a malformed escape or an encoded NUL.
std::optional<std::filesystem::path> localFilePath(std::string_view uri);

/// The "file:" URL of an absolute @p path, percent-encoding every byte that
/// is not unreserved or "/".
std::string fileUrlFor(const std::filesystem::path& path);

}  // namespace corvenza::detail
