#include "platform/sigv4/clock_skew.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/sigv4/encoding.h"

namespace corvenza::sigv4 {

namespace {

std::optional<unsigned> monthNumber(const char* name) {
  static constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  for (unsigned i = 0; i < kMonths.size(); ++i) {
    if (std::strcmp(kMonths[i], name) == 0) return i + 1;
  }
  return std::nullopt;
}

std::optional<std::chrono::system_clock::time_point> makeTime(int y, const char* monthName, int d,
                                                              int h, int m, int s) {
  using namespace std::chrono;
  const auto month = monthNumber(monthName);
  if (!month || d < 1 || h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 60) {
    return std::nullopt;
  }
  const year_month_day date{year{y}, std::chrono::month{*month}, day{static_cast<unsigned>(d)}};
  if (!date.ok()) return std::nullopt;
  return sys_days(date) + hours(h) + minutes(m) + seconds(s);
}

}  // namespace

std::optional<std::chrono::system_clock::time_point> parseHttpDate(std::string_view text) {
  const std::string s(text);
  const auto length = static_cast<int>(s.size());
  char weekday[10] = {};
  char month[4] = {};
  int y = 0, d = 0, h = 0, m = 0, sec = 0, used = 0;

  if (std::sscanf(s.c_str(), "%3[A-Za-z], %2d %3[A-Za-z] %4d %2d:%2d:%2d GMT%n", weekday, &d, month,
                  &y, &h, &m, &sec, &used) == 7 &&
      used == length) {
    return makeTime(y, month, d, h, m, sec);
  }
  used = 0;
  if (std::sscanf(s.c_str(), "%9[A-Za-z], %2d-%3[A-Za-z]-%2d %2d:%2d:%2d GMT%n", weekday, &d, month,
                  &y, &h, &m, &sec, &used) == 7 &&
      used == length) {
    return makeTime(y < 70 ? 2000 + y : 1900 + y, month, d, h, m, sec);
  }
  used = 0;
  if (std::sscanf(s.c_str(), "%3[A-Za-z] %3[A-Za-z] %2d %2d:%2d:%2d %4d%n", weekday, month, &d, &h,
                  &m, &sec, &y, &used) == 7 &&
      used == length) {
    return makeTime(y, month, d, h, m, sec);
  }
  return std::nullopt;
}

ClockSkew::ClockSkew(TimeSource systemNow) : systemNow_(std::move(systemNow)) {}

std::chrono::system_clock::time_point ClockSkew::now() const { return systemNow_() + offset(); }

std::chrono::seconds ClockSkew::offset() const {
  return std::chrono::seconds(offsetSeconds_.load(std::memory_order_relaxed));
}

bool ClockSkew::update(std::chrono::system_clock::time_point serverTime) {
  const auto difference = serverTime - now();
  if (difference < kThreshold && difference > -kThreshold) return false;
  const auto newOffset =
      std::chrono::round<std::chrono::seconds>(serverTime - systemNow_()).count();
  return offsetSeconds_.exchange(newOffset, std::memory_order_relaxed) != newOffset;
}

bool ClockSkew::updateFromHeaders(const http::HttpHeaders& headers) {
  std::optional<std::chrono::system_clock::time_point> serverTime;
  if (auto amzDate = http::findHeader(headers, "x-amz-date")) serverTime = parseAmzDate(*amzDate);
  if (!serverTime) {
    if (auto date = http::findHeader(headers, "date")) serverTime = parseHttpDate(*date);
  }
  return serverTime && update(*serverTime);
}

void ClockSkew::reset() { offsetSeconds_.store(0, std::memory_order_relaxed); }

std::shared_ptr<ClockSkew> sharedClockSkew() {
  // Immortal: signers on library threads may read it during static destruction.
  static auto* skew = new std::shared_ptr<ClockSkew>(std::make_shared<ClockSkew>());
  return *skew;
}

}  // namespace corvenza::sigv4
