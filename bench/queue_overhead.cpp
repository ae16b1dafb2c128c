// The creation queue's own cost per entry: storing the two prepared photos
// and the row, recording the five steps of a run, and removing the photos,
// with photos the size the upload width gives a 12-megapixel picture. No
// network; compare with a creation's wall time on loopback
// (bench/queue_run.sh does).
//
//   bench_queue_overhead [ENTRIES]     (default 100)

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <vector>

#include "queue/queue_store.h"

using namespace corvenza;

int main(int argc, char** argv) {
  const int entries = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
  const auto folder = std::filesystem::temp_directory_path() /
                      ("corvenza-queue-bench-" + std::to_string(std::random_device{}()));
  auto store = queue::QueueStore::open(folder);
  if (!store) {
    std::fprintf(stderr, "%s\n", store.error().localizedDescription().c_str());
    return 1;
  }
  // The sizes of the example photos once prepared: 1.46 MB and 0.93 MB.
  const std::vector<std::uint8_t> front(1'457'451, 0x5a);
  const std::vector<std::uint8_t> side(931'523, 0xa5);

  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < entries; ++i) {
    QueuedCreation view;
    view.heightInCm = 170;
    view.weightInKg = 62.5;
    view.age = 35;
    view.enqueuedAt = std::chrono::system_clock::now();
    auto entry = (*store)->insert(view, front, side);
    if (!entry) return 1;
    entry->createSentAtMs = 1;
    (void)(*store)->update(*entry);
    entry->createSentAtMs.reset();
    entry->view.requestId = "request-" + std::to_string(i);
    for (auto state : {QueuedCreationState::created, QueuedCreationState::frontAttached,
                       QueuedCreationState::sideAttached, QueuedCreationState::done}) {
      entry->view.state = state;
      (void)(*store)->update(*entry);
    }
    (*store)->removePhotos(*entry);
  }
  const double total =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::printf("queue overhead: %.2f ms per entry (%d entries: store, 5 steps, removal)\n",
              total / entries, entries);
  std::filesystem::remove_all(folder);
  return 0;
}
