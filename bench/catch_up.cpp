// Catching up after the real-time connection comes back: the time from the
// service acknowledging the subscriptions again to the last event of what
// changed while they were down, for a user holding REQUESTS requests.
// Run through bench/catch_up.sh (it starts the emulator and names its base).
//
//   bench_catch_up REQUESTS CHANGES BASE_URL

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "bench_session.h"

using namespace corvenza;
using SteadyClock = std::chrono::steady_clock;

namespace {

// One control request to the emulator (loopback only).
bool control(const std::string& method, const std::string& url, const std::string& body = "") {
  const std::string command = "curl -sf -o /dev/null -X " + method +
                              " -H 'Content-Type: application/json' " +
                              (body.empty() ? "" : "-d '" + body + "' ") + "'" + url + "'";
  return std::system(command.c_str()) == 0;
}

struct Starts final : CorvenzaEnterpriseDelegate {
  std::array<int, 3> count{};
  SteadyClock::time_point back;  // the first subscription acknowledged again
  void estimationProgressDidChange(EstimationProgressType) override {}
  void estimationSubscriptionDidStart(EstimationEventKind kind) override {
    if (++count[static_cast<int>(kind)] == 2 && back == SteadyClock::time_point()) {
      back = SteadyClock::now();
    }
  }
  int fewest() const { return *std::min_element(count.begin(), count.end()); }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: bench_catch_up REQUESTS CHANGES BASE_URL\n");
    return 2;
  }
  const int requests = std::max(1, std::atoi(argv[1]));
  const int changes = std::clamp(std::atoi(argv[2]), 1, requests);
  const std::string base = argv[3];
  auto queue = bench::startLibrary();
  if (!queue) return 1;

  auto photo = Image::fromPixels(8, 8, std::vector<std::uint8_t>(8 * 8 * 3, 100));
  EstimationParameter parameter;
  parameter.heightInCm = 170;
  parameter.weightInKg = 60;
  parameter.age = 30;
  parameter.frontImage = photo;
  parameter.sideImage = photo;
  std::vector<std::string> ids;
  for (int made = 0; made < requests;) {
    const int batch = std::min(20, requests - made);
    int ended = 0;
    for (int i = 0; i < batch; ++i) {
      CorvenzaEnterprise::createEstimationRequest(parameter, [&](auto record, auto) {
        ++ended;
        if (record && record->id) ids.push_back(*record->id);
      });
    }
    if (!queue->runUntil([&] { return ended == batch; }, std::chrono::minutes(2))) return 1;
    made += batch;
  }
  if (static_cast<int>(ids.size()) != requests) {
    std::fprintf(stderr, "only %zu of %d creations succeeded\n", ids.size(), requests);
    return 1;
  }

  auto starts = std::make_shared<Starts>();
  CorvenzaEnterprise::shared().setDelegate(starts);
  std::set<std::string> heard;
  SteadyClock::time_point lastEvent;
  for (const auto kind : {EstimationEventKind::creation, EstimationEventKind::update,
                          EstimationEventKind::deletion}) {
    const auto listener = [&heard, &lastEvent](std::shared_ptr<EstimationRequest> record,
                                               std::optional<Errors>) {
      if (!record || !record->id) return;
      heard.insert(*record->id);
      lastEvent = SteadyClock::now();
    };
    switch (kind) {
      case EstimationEventKind::creation:
        CorvenzaEnterprise::subscribeCreationOfEstimationRequests(listener, "bench");
        break;
      case EstimationEventKind::update:
        CorvenzaEnterprise::subscribeUpdateOfEstimationRequests(listener, "bench");
        break;
      case EstimationEventKind::deletion:
        CorvenzaEnterprise::subscribeDeletionOfEstimationRequesets(listener, "bench");
        break;
    }
  }
  const auto limit = std::chrono::seconds(60);
  if (!queue->runUntil([&] { return starts->fewest() >= 1; }, limit)) {
    std::fprintf(stderr, "the subscriptions never started\n");
    return 1;
  }
  // The first read of every request, which the catch-up compares with.
  queue->runFor(std::chrono::milliseconds(1000 + 20 * requests));

  // The gap: every connection dropped, new subscriptions held, changes made.
  if (!control("POST", base + "/_control/faults",
               R"({"route":"realtime","action":"stall","delay_ms":3000,"times":"always"})") ||
      !control("POST", base + "/_control/drop-realtime-connections")) {
    std::fprintf(stderr, "the emulator's control interface did not answer\n");
    return 1;
  }
  int answered = 0;
  for (int i = 0; i < changes; ++i) {
    EstimationParameter change = parameter;
    change.age = 41;
    CorvenzaEnterprise::updateEstimationRequest(ids[static_cast<std::size_t>(i)], change,
                                                [&](auto, auto) { ++answered; });
  }
  if (!queue->runUntil([&] { return answered == changes; }, limit)) return 1;
  control("DELETE", base + "/_control/faults");
  heard.clear();

  if (!queue->runUntil(
          [&] { return starts->fewest() >= 2 && static_cast<int>(heard.size()) >= changes; },
          limit)) {
    std::fprintf(stderr, "%zu of %d changes caught up\n", heard.size(), changes);
    return 1;
  }
  const auto back = starts->back;
  queue->runFor(std::chrono::milliseconds(500));  // nothing else arrives
  std::printf(
      "requests %d, changes %d: last caught-up event %.1f ms after the first subscription "
      "was back (%zu requests heard)\n",
      requests, changes, std::chrono::duration<double, std::milli>(lastEvent - back).count(),
      heard.size());
  CorvenzaEnterprise::unsubscribeAll();
  CorvenzaEnterprise::shutdown();
  return 0;
}
