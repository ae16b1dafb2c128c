#pragma once
// The hook through which RemoteImageProxy asks for a presigned download link.
// The object-storage set-up installs the builder at start-up; until then no
// link can be made and every request answers nothing.

#include <corvenza/remote_image.h>

#include <functional>
#include <optional>
#include <string>

namespace corvenza::detail {

using PresignedLinkBuilder = std::function<std::optional<std::string>(const S3Object&)>;

/// Installs (or, with an empty function, removes) the builder. Thread-safe.
void setPresignedLinkBuilder(PresignedLinkBuilder builder);

/// A link from the installed builder, or nothing when none is installed.
/// The builder runs outside the hook's lock, so it may block. Thread-safe.
std::optional<std::string> presignedDownloadURL(const S3Object& object);

}  // namespace corvenza::detail
