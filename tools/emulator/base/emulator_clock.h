#pragma once
// The emulator's notion of now: the system clock moved by an offset that
// tests may change, so that expiry can be exercised without waiting.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>

namespace corvenza::emulator {

class EmulatorClock {
 public:
  using TimePoint = std::chrono::system_clock::time_point;

  /// The span the emulator's time may be moved within, in seconds since the
  /// epoch: from the epoch to 2200-01-01. Time points count nanoseconds in 64
  /// bits and end in 2262, and expiry adds up to a day on top of now.
  static constexpr std::int64_t kEarliestSeconds = 0;
  static constexpr std::int64_t kLatestSeconds = 7'258'118'400;

  TimePoint now() const {
    return std::chrono::system_clock::now() + std::chrono::seconds(offsetSeconds_.load());
  }
  /// Whole seconds since the epoch, as tokens carry them.
  std::int64_t nowSeconds() const {
    return std::chrono::duration_cast<std::chrono::seconds>(now().time_since_epoch()).count();
  }
  /// Moves the emulator's time by @p seconds (may be negative) and returns the
  /// new offset. Refuses (nothing, the clock unchanged) a move that would take
  /// now outside [kEarliestSeconds, kLatestSeconds].
  std::optional<std::int64_t> advance(std::int64_t seconds) {
    auto offset = offsetSeconds_.load();
    for (;;) {
      const auto systemNow = std::chrono::duration_cast<std::chrono::seconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
      std::int64_t next = 0;
      std::int64_t shown = 0;
      if (__builtin_add_overflow(offset, seconds, &next) ||
          __builtin_add_overflow(systemNow, next, &shown) || shown < kEarliestSeconds ||
          shown > kLatestSeconds) {
        return std::nullopt;
      }
      if (offsetSeconds_.compare_exchange_weak(offset, next)) return next;
    }
  }
  std::int64_t offsetSeconds() const { return offsetSeconds_.load(); }

 private:
  std::atomic<std::int64_t> offsetSeconds_{0};
};

}  // namespace corvenza::emulator
