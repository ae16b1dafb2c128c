#pragma once
// The list page's position, read from its query string and held to bounds so
// that no value a browser sends can make a huge or negative offset.

#include <cstdint>
#include <string_view>

namespace corvenza::emulator::dashboard {

struct Paging {
  static constexpr int kDefaultPerPage = 20;
  static constexpr int kMaxPerPage = 100;
  static constexpr std::int64_t kMaxPage = 1'000'000;

  /// 1-based.
  std::int64_t page = 1;
  int perPage = kDefaultPerPage;

  std::int64_t offset() const { return (page - 1) * perPage; }
};

/// "page" (1 to kMaxPage) and "per_page" (1 to kMaxPerPage) from @p query:
/// out-of-range numbers are clamped, anything that is not a decimal number
/// gives the default.
Paging parsePaging(std::string_view query);

}  // namespace corvenza::emulator::dashboard
