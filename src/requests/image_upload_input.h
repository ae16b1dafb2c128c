#pragma once
// Preparing one photo for its attach mutation: scale, encode as JPEG, write a
// private temporary file, and describe where it is to be stored.

#include <corvenza/image.h>

#include <optional>
#include <string>

#include "core/result.h"
#include "graphql/inputs.h"
#include "requests/client_state.h"

namespace corvenza::requests {

/// The S3ObjectInput of the front (@p isFront) or side photo of request
/// @p requestId: the photo scaled to at most 1080 points wide, JPEG at the
/// best quality, in a fresh private temporary file, to be stored under
/// "<identity id>/<request id>/front.jpg" (or "side.jpg") in @p state's
/// bucket and region, the identity being @p identityId (a creation fixes it
/// when it starts) or else @p state's now. Fails when the photo cannot be
/// encoded or written.
detail::Result<graphql::S3ObjectInput> prepareImageUploadInput(
    const ClientState& state, const std::string& requestId, const Image& image, bool isFront,
    const std::optional<std::string>& identityId = std::nullopt);

}  // namespace corvenza::requests
