// Real-time event latency on loopback: from the answer of an update mutation
// to the subscriber's callback for the event it caused, over many events
// (an event that overtakes the answer counts as no delay), and from sending
// the mutation to that callback.
// Run through bench/realtime_and_concurrency.sh (it starts the emulator).
//
//   bench_realtime_latency [EVENTS]     (default 1000)
//
// It keeps a fixed histogram instead of every figure, so that its own memory
// stays flat however many events it counts; the peak it prints is the
// library's growth.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "bench_session.h"

using namespace corvenza;
using SteadyClock = std::chrono::steady_clock;

namespace {

// Milliseconds in buckets of 10 us up to 2 s, and the largest seen exactly.
class Histogram {
 public:
  void add(double ms) {
    const auto bucket = static_cast<std::size_t>(std::max(0.0, ms) * 100);
    ++counts_[std::min(bucket, counts_.size() - 1)];
    ++total_;
    max_ = std::max(max_, ms);
  }
  double percentile(double p) const {
    const auto wanted = static_cast<std::uint64_t>(p * static_cast<double>(total_));
    std::uint64_t seen = 0;
    for (std::size_t bucket = 0; bucket < counts_.size(); ++bucket) {
      seen += counts_[bucket];
      if (seen > wanted) return std::min(max_, static_cast<double>(bucket) / 100);
    }
    return max_;
  }
  double max() const { return max_; }

 private:
  std::vector<std::uint32_t> counts_ = std::vector<std::uint32_t>(200'000);
  std::uint64_t total_ = 0;
  double max_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const int events = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
  auto queue = bench::startLibrary();
  if (!queue) return 1;
  const auto limit = std::chrono::seconds(30);

  // One request to update over and over, so every event is of one kind.
  auto photo = Image::fromPixels(8, 8, std::vector<std::uint8_t>(8 * 8 * 3, 100));
  EstimationParameter parameter;
  parameter.heightInCm = 170;
  parameter.weightInKg = 60;
  parameter.age = 30;
  parameter.frontImage = photo;
  parameter.sideImage = photo;
  std::shared_ptr<EstimationRequest> request;
  bool created = false;
  CorvenzaEnterprise::createEstimationRequest(parameter, [&](auto record, auto errors) {
    if (errors)
      std::fprintf(stderr, "create failed: %s\n", errors->front().localizedDescription().c_str());
    request = record;
    created = true;
  });
  if (!queue->runUntil([&] { return created; }, limit) || !request) return 1;
  const std::string id = request->id.value_or("");

  SteadyClock::time_point eventAt;
  bool live = false;
  struct Started final : CorvenzaEnterpriseDelegate {
    bool* live;
    explicit Started(bool* flag) : live(flag) {}
    void estimationProgressDidChange(EstimationProgressType) override {}
    void estimationSubscriptionDidStart(EstimationEventKind) override { *live = true; }
  };
  CorvenzaEnterprise::shared().setDelegate(std::make_shared<Started>(&live));
  int received = 0;
  CorvenzaEnterprise::subscribeUpdateOfEstimationRequests(
      [&](std::shared_ptr<EstimationRequest> record, std::optional<Errors>) {
        if (record && record->id == id) ++received;
        eventAt = SteadyClock::now();
      },
      "latency");
  if (!queue->runUntil([&] { return live; }, limit)) {
    std::fprintf(stderr, "the subscription never started\n");
    return 1;
  }

  Histogram latencies;
  Histogram fromSend;
  int overtook = 0;
  for (int i = 1; i <= events; ++i) {
    EstimationParameter change = parameter;
    change.age = 20 + i % 50;
    SteadyClock::time_point answeredAt;
    const auto sentAt = SteadyClock::now();
    bool answered = false;
    CorvenzaEnterprise::updateEstimationRequest(id, change, [&](auto, auto) {
      answeredAt = SteadyClock::now();
      answered = true;
    });
    const int before = received;
    if (!queue->runUntil([&] { return answered && received > before; }, limit)) {
      std::fprintf(stderr, "event %d did not arrive\n", i);
      return 1;
    }
    // An event that overtook the mutation's answer counts as no delay.
    if (eventAt < answeredAt) ++overtook;
    const auto delay = std::max(SteadyClock::duration::zero(), eventAt - answeredAt);
    latencies.add(std::chrono::duration<double, std::milli>(delay).count());
    fromSend.add(std::chrono::duration<double, std::milli>(eventAt - sentAt).count());
  }
  CorvenzaEnterprise::unsubscribeAll();
  std::printf("events: %d (%d arrived before the mutation's answer)\n", events, overtook);
  std::printf("answer to event: p50 %.2f ms, p99 %.2f ms, max %.2f ms\n", latencies.percentile(0.5),
              latencies.percentile(0.99), latencies.max());
  std::printf("send to event:   p50 %.2f ms, p99 %.2f ms, max %.2f ms\n", fromSend.percentile(0.5),
              fromSend.percentile(0.99), fromSend.max());
  std::printf("peak memory: %.1f MB\n", bench::peakMegabytes());
  CorvenzaEnterprise::shutdown();
  return 0;
}
