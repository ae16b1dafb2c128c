// The wait before reconnecting: doubling, capped, jittered into its upper half.

#include "platform/appsync/realtime/reconnect_delay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

namespace corvenza::appsync {
namespace {

using std::chrono::milliseconds;

TEST(ReconnectDelayTest, DoublesFromTheBaseUpToTheCapWithJitterInTheUpperHalf) {
  std::mt19937 random(5);
  const milliseconds base(500);
  const milliseconds cap(30'000);
  // Nominal waits: 500, 1000, 2000, ... capped at 30 s; attempts far beyond
  // the cap (and absurd ones) must neither overflow nor go negative.
  for (int attempt : {0, 1, 2, 5, 6, 7, 16, 40, 1'000'000, -3}) {
    const long long nominal =
        std::min<long long>(cap.count(), base.count() << std::clamp(attempt, 0, 16));
    for (int i = 0; i < 200; ++i) {
      const auto delay = reconnectDelay(attempt, base, cap, random);
      EXPECT_GE(delay.count(), nominal / 2) << attempt;
      EXPECT_LE(delay.count(), nominal) << attempt;
    }
  }
  // Jitter really spreads the clients: not every wait is the same.
  std::set<long long> seen;
  for (int i = 0; i < 50; ++i) seen.insert(reconnectDelay(3, base, cap, random).count());
  EXPECT_GT(seen.size(), 10u);
  // A cap of zero means reconnect at once.
  EXPECT_EQ(reconnectDelay(4, base, milliseconds(0), random).count(), 0);
}

}  // namespace
}  // namespace corvenza::appsync
