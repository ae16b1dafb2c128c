#pragma once
// The emulator's notion of now: the system clock moved by an offset that
// tests may change, so that expiry can be exercised without waiting.

#include <atomic>
#include <chrono>
#include <cstdint>

namespace corvenza::emulator {

class EmulatorClock {
 public:
  using TimePoint = std::chrono::system_clock::time_point;

  TimePoint now() const {
    return std::chrono::system_clock::now() + std::chrono::seconds(offsetSeconds_.load());
  }
  /// Whole seconds since the epoch, as tokens carry them.
  std::int64_t nowSeconds() const {
    return std::chrono::duration_cast<std::chrono::seconds>(now().time_since_epoch()).count();
  }
  /// Moves the emulator's time by @p seconds (may be negative); returns the new offset.
  std::int64_t advance(std::int64_t seconds) { return offsetSeconds_ += seconds; }
  std::int64_t offsetSeconds() const { return offsetSeconds_.load(); }

 private:
  std::atomic<std::int64_t> offsetSeconds_{0};
};

}  // namespace corvenza::emulator
