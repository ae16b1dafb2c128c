#pragma once
// Preparing one photo for its attach mutation: scale, encode as JPEG, write a
// private temporary file, and describe where it is to be stored.

#include <corvenza/image.h>

#include <filesystem>
#include <string>

#include "core/result.h"
#include "graphql/inputs.h"
#include "requests/client_state.h"

namespace corvenza::requests {

/// The front (@p isFront) or side photo as it is uploaded: scaled to at most
/// 1080 points wide, JPEG at the best quality, in a fresh private temporary
/// file (whose path comes back). Fails when the photo holds no picture or
/// cannot be encoded or written.
detail::Result<std::filesystem::path> writeUploadPhoto(const Image& image, bool isFront);

/// The S3ObjectInput of the front (@p isFront) or side photo of request
/// @p requestId: writeUploadPhoto()'s file, to be stored under
/// "<identity id>/<request id>/front.jpg" (or "side.jpg") in @p state's
/// bucket and region, the identity being @p state's.
detail::Result<graphql::S3ObjectInput> prepareImageUploadInput(const ClientState& state,
                                                               const std::string& requestId,
                                                               const Image& image, bool isFront);

}  // namespace corvenza::requests
