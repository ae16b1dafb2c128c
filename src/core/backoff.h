#pragma once
// The one wait before trying again, for HTTP retries, real-time reconnects
// and the creation queue alike: doubling from a base up to a cap, then a
// random point in its upper half, so that clients dropped together do not
// come back together and no wait shrinks to nothing.

#include <chrono>

namespace corvenza {

/// The wait before retry number @p retry (1 for the first): @p base doubled
/// per retry, at most @p cap, scaled into its upper half by @p unit, a number
/// in [0, 1]. Retries and units out of range are clamped; a cap of zero (or
/// less) means no wait.
std::chrono::milliseconds backoffDelay(int retry, std::chrono::milliseconds base,
                                       std::chrono::milliseconds cap, double unit);

}  // namespace corvenza
