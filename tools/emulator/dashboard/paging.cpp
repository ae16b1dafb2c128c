#include "dashboard/paging.h"

#include <algorithm>
#include <optional>

#include "base/http_message.h"

namespace corvenza::emulator::dashboard {
namespace {

// A decimal number clamped to [low, high]; nothing unless all digits (an
// optional leading '-' clamps to low).
std::optional<std::int64_t> boundedNumber(std::string_view text, std::int64_t low,
                                          std::int64_t high) {
  bool negative = false;
  if (!text.empty() && text.front() == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  if (text.empty() || text.size() > 64) return std::nullopt;
  std::int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    // Saturate instead of overflowing: past `high` the digits no longer matter.
    if (value <= high) value = value * 10 + (c - '0');
  }
  if (negative) return low;
  return std::clamp(value, low, high);
}

}  // namespace

Paging parsePaging(std::string_view query) {
  Paging paging;
  if (const auto page = queryValue(query, "page")) {
    paging.page = boundedNumber(*page, 1, Paging::kMaxPage).value_or(1);
  }
  if (const auto perPage = queryValue(query, "per_page")) {
    paging.perPage = static_cast<int>(
        boundedNumber(*perPage, 1, Paging::kMaxPerPage).value_or(Paging::kDefaultPerPage));
  }
  return paging;
}

}  // namespace corvenza::emulator::dashboard
