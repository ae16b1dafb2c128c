// The one backoff: doubling, capped, jittered into its upper half, and safe
// for any retry count or random number.

#include "core/backoff.h"

#include <gtest/gtest.h>

#include <limits>

namespace corvenza {
namespace {

using std::chrono::milliseconds;

TEST(BackoffTest, DoublesUpToTheCapWithinItsUpperHalf) {
  struct Case {
    int retry;
    double unit;
    long long base, cap, expected;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (const auto& c :
       std::vector<Case>{{1, 1.0, 1000, 20'000, 1000},
                         {1, 0.0, 1000, 20'000, 500},
                         {2, 0.5, 1000, 20'000, 1500},
                         {5, 1.0, 1000, 20'000, 16'000},
                         {6, 1.0, 1000, 20'000, 20'000},
                         {6, 0.0, 1000, 20'000, 10'000},
                         // Absurd retry counts and units neither overflow nor go negative.
                         {1'000'000, 1.0, 500, 30'000, 30'000},
                         {-3, 1.0, 500, 30'000, 500},
                         {3, 7.0, 500, 30'000, 2000},
                         {3, -1.0, 500, 30'000, 1000},
                         {3, nan, 500, 30'000, 1000},
                         // A base above the cap waits the cap; a zero cap not at all.
                         {1, 1.0, 90'000, 30'000, 30'000},
                         {4, 1.0, 500, 0, 0}}) {
    EXPECT_EQ(backoffDelay(c.retry, milliseconds(c.base), milliseconds(c.cap), c.unit).count(),
              c.expected)
        << "retry " << c.retry << " unit " << c.unit;
  }
}

}  // namespace
}  // namespace corvenza
