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

  EstimationParameter parameter;
  parameter.heightInCm = 170;
  parameter.weightInKg = 62.5;
  parameter.age = 35;
  parameter.frontImage = Image::fromFile(argv[1], kUploadPhotoWidth);
  parameter.sideImage = Image::fromFile(argv[2], kUploadPhotoWidth);
  if (!parameter.frontImage || !parameter.sideImage) return 2;

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
  int done = 0;
  int failed = 0;
  for (int n = 0; n < perClient; ++n) {
    for (auto& client : users) {
      client->createEstimationRequest(parameter, [&](auto, auto errors) {
        ++done;
        if (errors) ++failed;
      });
    }
  }
  if (!queue->runUntil([&] { return done == total; }, std::chrono::minutes(5))) {
    std::fprintf(stderr, "only %d of %d creations ended\n", done, total);
    return 1;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf(
      "clients: %d x %d creations (%d failed)\nwall: %.2f s\nthroughput: %.1f creations/s\n"
      "peak memory: %.1f MB\n",
      clients, perClient, failed, seconds, total / seconds, bench::peakMegabytes());
  users.clear();
  queue->runFor(std::chrono::milliseconds(100));
  return failed == 0 ? 0 : 1;
}
