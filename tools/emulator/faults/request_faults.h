#pragma once
// Finds the fault, if any, that catches an HTTP request (or a real-time
// connection being opened) by the route its path belongs to.

#include <optional>

#include "base/http_message.h"
#include "faults/fault.h"
#include "faults/fault_table.h"

namespace corvenza::emulator::faults {

/// The route of @p path: /auth, /identity, /graphql, /graphql/realtime, /s3
/// and below; nothing elsewhere (the control hooks cannot be faulted, so a
/// test can always clear its faults).
std::optional<Route> routeOf(const std::string& path);

/// The fault @p table holds for @p request, taken (counted as fired), or
/// nothing. Works out the GraphQL root fields or the identity operation only
/// when a fault names a field.
std::optional<Fault> takeRequestFault(FaultTable& table, const Request& request);

}  // namespace corvenza::emulator::faults
