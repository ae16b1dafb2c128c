#pragma once
// Local-time stamps for console lines and temporary file names.

#include <chrono>
#include <string>

namespace corvenza::detail {

/// The current local time of day as "HH:mm:ss.SSSS" (24-hour clock, four
/// fractional digits).
std::string getNow();

/// Formats @p when in local time as "HH:mm:ss.SSSS".
std::string formatTimeOfDay(std::chrono::system_clock::time_point when);

}  // namespace corvenza::detail
