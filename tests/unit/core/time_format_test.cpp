#include "core/time_format.h"

#include <gtest/gtest.h>

#include <regex>

namespace corvenza::detail {
namespace {

TEST(TimeFormatTest, GetNowHasHoursMinutesSecondsAndFourFractionDigits) {
  EXPECT_TRUE(std::regex_match(getNow(), std::regex(R"(\d{2}:\d{2}:\d{2}\.\d{4})"))) << getNow();
}

TEST(TimeFormatTest, FractionIsTruncatedToTenThousandths) {
  setenv("TZ", "UTC", 1);
  tzset();
  auto when = std::chrono::system_clock::time_point(std::chrono::seconds(86400 + 3661)) +
              std::chrono::microseconds(123456);
  EXPECT_EQ(formatTimeOfDay(when), "01:01:01.1234");
  auto evening = std::chrono::system_clock::time_point(std::chrono::hours(23));
  EXPECT_EQ(formatTimeOfDay(evening), "23:00:00.0000");  // 24-hour clock
}

}  // namespace
}  // namespace corvenza::detail
