#pragma once
// Who may see the dashboard: it shows every identity's photos, so it answers
// only connections from this machine that name this machine as the host (a
// page elsewhere that rebinds its own name to 127.0.0.1 still sends its name).

#include <string_view>

namespace corvenza::emulator::dashboard {

/// Whether @p address (as the server reports a peer: "127.0.0.1", "::1",
/// "::ffff:127.0.0.1") is a loopback address. An empty or unparsable one is not.
bool isLoopbackPeer(std::string_view address);

/// Whether a Host header value names a loopback host: "127.x.y.z",
/// "localhost" or "[::1]", each with an optional ":port".
bool isLoopbackHost(std::string_view host);

}  // namespace corvenza::emulator::dashboard
