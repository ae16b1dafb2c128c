// Several users served by one process: CLIENTS clients, each creating
// PER_CLIENT requests at once, all against the emulator on loopback. Prints
// the wall time until every callback has run, the throughput and the
// process's peak memory. Run through bench/clients_in_one_process.sh.
//
//   bench_clients_in_one_process FRONT SIDE [CLIENTS] [PER_CLIENT]   (default 5 x 10)

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "bench_session.h"

using namespace corvenza;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s FRONT SIDE [CLIENTS] [PER_CLIENT]\n", argv[0]);
    return 2;
  }
  const int clients = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
  const int perClient = argc > 4 ? std::max(1, std::atoi(argv[4])) : 10;
  const auto apiUrl = bench::env("CORVENZA_API_URL");
  const auto apiKey = bench::env("CORVENZA_API_KEY");
  if (apiUrl.empty() || apiKey.empty()) {
    std::fprintf(stderr, "set CORVENZA_API_URL and CORVENZA_API_KEY\n");
    return 2;
  }
  setConsoleSink([](std::string_view) {});

  const auto parameter = bench::photoParameter(argv[1], argv[2]);
  if (!parameter) return 2;

  auto queue = MainQueue::callerDriven();
  const auto cacheRoot = bench::env("CORVENZA_CACHE_DIR");
  std::vector<std::shared_ptr<EstimationClient>> users;
  for (int i = 0; i < clients; ++i) {
    auto provider = std::make_shared<DirectTokenProvider>(apiUrl, apiKey);
    provider->setUserId("bench-client-" + std::to_string(i));
    EstimationClientOptions options;
    options.tokenProvider = provider;
    options.mainQueue = queue;
    if (!cacheRoot.empty()) {
      options.cacheDirectory = std::filesystem::path(cacheRoot) / std::to_string(i);
    }
    try {
      users.push_back(EstimationClient::create(options));
    } catch (const CorvenzaException& e) {
      std::fprintf(stderr, "cannot start: %s\n", e.what());
      return 1;
    }
  }

  const int total = clients * perClient;
  const auto start = std::chrono::steady_clock::now();
  bench::CreationTally tally;
  for (int n = 0; n < perClient; ++n) {
    for (auto& client : users) client->createEstimationRequest(*parameter, tally.callback());
  }
  if (!tally.await(*queue, total)) return 1;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf(
      "clients: %d x %d creations (%d failed)\nwall: %.2f s\nthroughput: %.1f creations/s\n"
      "peak memory: %.1f MB\n",
      clients, perClient, tally.failed, seconds, total / seconds, bench::peakMegabytes());
  users.clear();
  queue->runFor(std::chrono::milliseconds(100));
  return tally.failed == 0 ? 0 : 1;
}
