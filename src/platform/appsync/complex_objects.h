#pragma once
// Finds the file uploads a mutation's variables ask for: every object with
// string "bucket", "key", "region", "localUri" and "mimeType" members.

#include <nlohmann/json_fwd.hpp>
#include <vector>

#include "core/result.h"
#include "platform/appsync/object_manager.h"

namespace corvenza::appsync {

/// Walks @p variables recursively and describes each upload, in document
/// order. Fails when a "localUri" names something other than a local file.
detail::Result<std::vector<S3UploadDescription>> findUploads(const nlohmann::json& variables);

/// The local path of a "localUri" (see detail::localFilePath): a "file:" URL
/// or a plain path. Nothing for any other URL.
std::optional<std::filesystem::path> localPathFromUri(const std::string& uri);

}  // namespace corvenza::appsync
