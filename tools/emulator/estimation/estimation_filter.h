#pragma once
// The list query's filter: TableBodysizeEstimationFilterInput applied to a
// request's GraphQL form. Every condition of every field must hold.

#include <nlohmann/json.hpp>

namespace corvenza::emulator::estimation {

/// True when @p record (as toGraphQL() makes it) passes @p filter (a coerced
/// filter input; null or {} passes everything). A field that is null never
/// passes a comparison, except "ne" and "notContains".
bool matchesFilter(const nlohmann::json& record, const nlohmann::json& filter);

}  // namespace corvenza::emulator::estimation
