#pragma once
// Starting the library for a benchmark run against the emulator: the
// environment file of `corvenza-emulator --write-bundle` sourced first, a
// main queue the benchmark drives.

#include <corvenza/corvenza.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

namespace corvenza::bench {

inline std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

/// Starts the facade as CORVENZA_USER_ID (or "bench-user"); the queue is
/// driven by the caller. Nothing when start-up fails (after saying why).
inline std::shared_ptr<MainQueue> startLibrary() {
  const auto apiUrl = env("CORVENZA_API_URL");
  const auto apiKey = env("CORVENZA_API_KEY");
  if (apiUrl.empty() || apiKey.empty()) {
    std::cerr << "set CORVENZA_API_URL and CORVENZA_API_KEY (source the emulator's env file)\n";
    return nullptr;
  }
  setConsoleSink([](std::string_view) {});
  auto queue = MainQueue::callerDriven();
  CorvenzaEnterprise::setMainQueue(queue);
  auto provider = std::make_shared<DirectTokenProvider>(apiUrl, apiKey);
  const auto user = env("CORVENZA_USER_ID");
  provider->setUserId(user.empty() ? "bench-user" : user);
  try {
    CorvenzaEnterprise::initialize(provider);
  } catch (const CorvenzaException& e) {
    std::cerr << "cannot start: " << e.error().localizedDescription() << "\n";
    return nullptr;
  }
  return queue;
}

/// The benchmarks' person with @p front and @p side loaded at the upload
/// width; nothing when a photo cannot be read.
inline std::optional<EstimationParameter> photoParameter(const char* front, const char* side) {
  EstimationParameter parameter;
  parameter.heightInCm = 170;
  parameter.weightInKg = 62.5;
  parameter.age = 35;
  parameter.frontImage = Image::fromFile(front, kUploadPhotoWidth);
  parameter.sideImage = Image::fromFile(side, kUploadPhotoWidth);
  if (!parameter.frontImage || !parameter.sideImage) return std::nullopt;
  return parameter;
}

/// Counts the creations that ended, and those that failed.
struct CreationTally {
  int done = 0;
  int failed = 0;
  RequestCallback callback() {
    return [this](std::shared_ptr<EstimationRequest>, std::optional<Errors> errors) {
      ++done;
      if (errors) ++failed;
    };
  }
  /// Drives @p queue until @p total creations ended (five minutes at most);
  /// false, after saying so, when they did not.
  bool await(MainQueue& queue, int total) {
    if (queue.runUntil([&] { return done == total; }, std::chrono::minutes(5))) return true;
    std::fprintf(stderr, "only %d of %d creations ended\n", done, total);
    return false;
  }
};

/// Peak resident memory of this process so far, in megabytes.
inline double peakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

}  // namespace corvenza::bench
