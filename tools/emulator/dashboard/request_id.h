#pragma once
// The only request ids the dashboard takes from a URL: the store makes
// lower-case canonical UUIDs, so anything else names no request and never
// reaches a query or a page.

#include <string_view>

namespace corvenza::emulator::dashboard {

/// Whether @p text is a UUID in lower-case canonical form (8-4-4-4-12 hex digits).
constexpr bool isRequestId(std::string_view text) {
  if (text.size() != 36) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (c != '-') return false;
    } else if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
      return false;
    }
  }
  return true;
}

}  // namespace corvenza::emulator::dashboard
