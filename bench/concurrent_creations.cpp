// Many creations at once in one process, against the emulator on loopback:
// wall time until every callback has run, and the process's peak memory.
// Run through bench/realtime_and_concurrency.sh (it starts the emulator).
//
//   bench_concurrent_creations FRONT SIDE [COUNT]     (default 50)

#include <chrono>
#include <cstdio>

#include "bench_session.h"

using namespace corvenza;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s FRONT SIDE [COUNT]\n", argv[0]);
    return 2;
  }
  const int count = argc > 3 ? std::max(1, std::atoi(argv[3])) : 50;
  auto queue = bench::startLibrary();
  if (!queue) return 1;
  EstimationParameter parameter;
  parameter.heightInCm = 170;
  parameter.weightInKg = 62.5;
  parameter.age = 35;
  parameter.frontImage = Image::fromFile(argv[1], kUploadPhotoWidth);
  parameter.sideImage = Image::fromFile(argv[2], kUploadPhotoWidth);
  if (!parameter.frontImage || !parameter.sideImage) return 2;

  const auto start = std::chrono::steady_clock::now();
  int done = 0;
  int failed = 0;
  for (int i = 0; i < count; ++i) {
    CorvenzaEnterprise::createEstimationRequest(parameter, [&](auto, auto errors) {
      ++done;
      if (errors) ++failed;
    });
  }
  if (!queue->runUntil([&] { return done == count; }, std::chrono::minutes(5))) {
    std::fprintf(stderr, "only %d of %d creations ended\n", done, count);
    return 1;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("creations: %d (%d failed)\nwall: %.2f s\npeak memory: %.1f MB\n", count, failed,
              seconds, bench::peakMegabytes());
  CorvenzaEnterprise::shutdown();
  return failed == 0 ? 0 : 1;
}
