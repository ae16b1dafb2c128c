#pragma once
// What a creation checks before it sends anything. A request created on the
// service whose photos then have nowhere to go is left half-made, once per
// try; whatever can be known locally is checked first.

#include <corvenza/error.h>

#include <optional>

#include "requests/client_state.h"

namespace corvenza::requests {

/// The photos' way to storage, once start-up has built it: a bucket, a
/// credentials provider and an http or https endpoint.
std::optional<Error> checkPhotoStorage(const ClientState& state);

/// The private temporary folder the prepared photos are written to: made,
/// ours alone and not a link.
std::optional<Error> checkTemporaryFolder();

}  // namespace corvenza::requests
