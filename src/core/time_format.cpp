#include "core/time_format.h"

#include <cstdio>
#include <ctime>

namespace corvenza::detail {

std::string formatTimeOfDay(std::chrono::system_clock::time_point when) {
  using namespace std::chrono;
  const auto seconds = time_point_cast<std::chrono::seconds>(when);
  const auto tenThousandths = duration_cast<microseconds>(when - seconds).count() / 100;
  const std::time_t t = system_clock::to_time_t(seconds);
  std::tm local{};
  localtime_r(&t, &local);
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%04d", local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(tenThousandths));
  return text;
}

std::string getNow() { return formatTimeOfDay(std::chrono::system_clock::now()); }

}  // namespace corvenza::detail
