#pragma once
// How long the real-time client waits before reconnecting.

#include <algorithm>
#include <chrono>
#include <random>

namespace corvenza::appsync {

/// The wait before reconnection attempt @p attempt (0 for the first): base
/// doubled per attempt, at most @p cap, then a random point in its upper
/// half, so that many clients dropped at once do not return at once.
template <typename Random>
std::chrono::milliseconds reconnectDelay(int attempt, std::chrono::milliseconds base,
                                         std::chrono::milliseconds cap, Random& random) {
  long long delay = base.count() << std::clamp(attempt, 0, 16);
  if (delay > cap.count() || delay <= 0) delay = cap.count();
  if (delay <= 0) return std::chrono::milliseconds(0);
  std::uniform_int_distribution<long long> jitter(delay / 2, delay);
  return std::chrono::milliseconds(jitter(random));
}

}  // namespace corvenza::appsync
