#include "core/backoff.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace corvenza {

std::chrono::milliseconds backoffDelay(int retry, std::chrono::milliseconds base,
                                       std::chrono::milliseconds cap, double unit) {
  const std::int64_t limit = std::max<std::int64_t>(cap.count(), 0);
  const std::int64_t first = std::clamp<std::int64_t>(base.count(), 0, limit);
  const int shift = std::clamp(retry - 1, 0, 62);
  // Compared before shifting, so that no retry count overflows.
  const std::int64_t nominal = first > (limit >> shift) ? limit : first << shift;
  const std::int64_t half = nominal / 2;
  const double share = std::isnan(unit) ? 0.0 : std::clamp(unit, 0.0, 1.0);
  return std::chrono::milliseconds(
      half + static_cast<std::int64_t>(std::llround(share * static_cast<double>(nominal - half))));
}

}  // namespace corvenza
