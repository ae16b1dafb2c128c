#include "platform/sigv4/clock_skew.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/sigv4/encoding.h"

namespace corvenza::sigv4 {
namespace {

using namespace std::chrono_literals;

const auto kDeviceTime = *parseAmzDate("20240301T120000Z");

TEST(HttpDate, ReadsAllThreeFormsAndRejectsNearMisses) {
  const auto expected = *parseAmzDate("19941106T084937Z");
  EXPECT_EQ(parseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"), expected);
  EXPECT_EQ(parseHttpDate("Sunday, 06-Nov-94 08:49:37 GMT"), expected);
  EXPECT_EQ(parseHttpDate("Sun Nov  6 08:49:37 1994"), expected);
  EXPECT_EQ(parseHttpDate("Fri, 01 Mar 2024 12:00:00 GMT"), kDeviceTime);
  for (const char* bad : {"", "Sun, 06 Nov 1994 08:49:37", "Sun, 06 Nov 1994 08:49:37 GMT junk",
                          "Sun, 31 Feb 1994 08:49:37 GMT", "Sun, 06 Foo 1994 08:49:37 GMT",
                          "Sun, 06 Nov 1994 24:49:37 GMT", "20240301T120000Z"}) {
    EXPECT_FALSE(parseHttpDate(bad)) << bad;
  }
}

TEST(ClockSkew, AdoptsTheServerTimeOnlyFromFourMinutesApart) {
  ClockSkew skew([] { return kDeviceTime; });
  EXPECT_EQ(skew.now(), kDeviceTime);

  EXPECT_FALSE(skew.update(kDeviceTime + 4min - 1s));
  EXPECT_EQ(skew.offset(), 0s);
  EXPECT_TRUE(skew.update(kDeviceTime + 4min));
  EXPECT_EQ(skew.now(), kDeviceTime + 4min);
  // Measured against the corrected time, the server now agrees.
  EXPECT_FALSE(skew.update(kDeviceTime + 5min));

  EXPECT_TRUE(skew.update(kDeviceTime - 10min));
  EXPECT_EQ(skew.offset(), -10min);
  skew.reset();
  EXPECT_EQ(skew.now(), kDeviceTime);
}

TEST(ClockSkew, ReadsResponseHeadersPreferringTheSignedDate) {
  ClockSkew skew([] { return kDeviceTime; });
  EXPECT_FALSE(skew.updateFromHeaders({{"Date", "garbage"}}));
  EXPECT_TRUE(skew.updateFromHeaders({{"Date", "Fri, 01 Mar 2024 12:30:00 GMT"}}));
  EXPECT_EQ(skew.offset(), 30min);
  EXPECT_TRUE(skew.updateFromHeaders(
      {{"Date", "Fri, 01 Mar 2024 12:30:00 GMT"}, {"X-Amz-Date", "20240301T110000Z"}}));
  EXPECT_EQ(skew.offset(), -1h);
}

TEST(ClockSkew, ConcurrentUpdatesAndReadsStayConsistent) {
  ClockSkew skew([] { return kDeviceTime; });
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&skew, i] {
      for (int n = 0; n < 500; ++n) {
        skew.update(kDeviceTime + (i % 2 ? 10min : -10min));
        const auto offset = skew.offset();
        EXPECT_TRUE(offset == 10min || offset == -10min || offset == 0s);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(std::chrono::abs(skew.offset()), 10min);
}

}  // namespace
}  // namespace corvenza::sigv4
