#pragma once
// A clock that moves only when a test says so.

#include <corvenza/main_queue.h>

#include <atomic>
#include <chrono>
#include <memory>

namespace corvenza::test {

class FakeClock final : public Clock {
 public:
  TimePoint now() const override { return TimePoint(std::chrono::nanoseconds(ticks_.load())); }
  void advance(std::chrono::nanoseconds by) { ticks_ += by.count(); }

 private:
  std::atomic<std::int64_t> ticks_{1'000'000'000};
};

}  // namespace corvenza::test
