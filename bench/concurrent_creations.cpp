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
  const auto parameter = bench::photoParameter(argv[1], argv[2]);
  if (!parameter) return 2;

  const auto start = std::chrono::steady_clock::now();
  bench::CreationTally tally;
  for (int i = 0; i < count; ++i) {
    CorvenzaEnterprise::createEstimationRequest(*parameter, tally.callback());
  }
  if (!tally.await(*queue, count)) return 1;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("creations: %d (%d failed)\nwall: %.2f s\npeak memory: %.1f MB\n", count,
              tally.failed, seconds, bench::peakMegabytes());
  CorvenzaEnterprise::shutdown();
  return tally.failed == 0 ? 0 : 1;
}
