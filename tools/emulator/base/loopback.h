#pragma once
// Who may talk to the emulator: it holds every identity's photos and mints a
// token for anyone with the well-known API key, so it serves this machine
// only. A peer must be on a loopback address and name a loopback host (a page
// elsewhere that rebinds its own name to 127.0.0.1 still sends its name).

#include <optional>
#include <string_view>

#include "base/http_message.h"

namespace corvenza::emulator {

/// Whether @p address (as the server reports a peer: "127.0.0.1", "::1",
/// "::ffff:127.0.0.1") is a loopback address. An empty or unparsable one is not.
bool isLoopbackPeer(std::string_view address);

/// Whether a Host header value names a loopback host: "127.x.y.z",
/// "localhost" or "[::1]", each with an optional ":port".
bool isLoopbackHost(std::string_view host);

/// Whether an Origin header value is "http://" or "https://" and a loopback
/// host as above; "null" and anything else is not.
bool isLoopbackOrigin(std::string_view origin);

/// The server's answer to a request not from and for this machine: 403 for a
/// peer off loopback, 421 unless there is exactly one Host and it is a
/// loopback one, 403 for more than one Origin or one that is not a loopback
/// one (a page elsewhere: browsers send one with every cross-site POST and
/// WebSocket). Nothing for a request that may be served.
std::optional<Response> refuseUnlessLoopback(const Request& request);

}  // namespace corvenza::emulator
