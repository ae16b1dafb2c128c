// Real-time event latency on loopback: from the answer of an update mutation
// to the subscriber's callback for the event it caused, over many events
// (an event that overtakes the answer counts as no delay), and from sending
// the mutation to that callback.
// Run through bench/realtime_and_concurrency.sh (it starts the emulator).
//
//   bench_realtime_latency [EVENTS]     (default 1000)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <vector>

#include "bench_session.h"

using namespace corvenza;
using SteadyClock = std::chrono::steady_clock;

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

  // Events are told apart by the age each update sets.
  std::map<int, SteadyClock::time_point> eventAt;
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
        eventAt[received] = SteadyClock::now();
      },
      "latency");
  if (!queue->runUntil([&] { return live; }, limit)) {
    std::fprintf(stderr, "the subscription never started\n");
    return 1;
  }

  std::vector<double> latencies;
  std::vector<double> fromSend;
  int overtook = 0;
  latencies.reserve(static_cast<std::size_t>(events));
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
    if (eventAt[received] < answeredAt) ++overtook;
    const auto delay = std::max(SteadyClock::duration::zero(), eventAt[received] - answeredAt);
    latencies.push_back(std::chrono::duration<double, std::milli>(delay).count());
    fromSend.push_back(
        std::chrono::duration<double, std::milli>(eventAt[received] - sentAt).count());
  }
  CorvenzaEnterprise::unsubscribeAll();
  auto percentile = [](std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1,
                           static_cast<std::size_t>(p * static_cast<double>(values.size())))];
  };
  std::printf("events: %d (%d arrived before the mutation's answer)\n", events, overtook);
  std::printf("answer to event: p50 %.2f ms, p99 %.2f ms, max %.2f ms\n",
              percentile(latencies, 0.50), percentile(latencies, 0.99), percentile(latencies, 1.0));
  std::printf("send to event:   p50 %.2f ms, p99 %.2f ms, max %.2f ms\n",
              percentile(fromSend, 0.50), percentile(fromSend, 0.99), percentile(fromSend, 1.0));
  CorvenzaEnterprise::shutdown();
  return 0;
}
