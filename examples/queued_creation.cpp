// Stores a creation in a durable queue, then runs the queue: the photos and
// the parameter are on disk before anything is sent, and a run after a
// failure or a restart resumes where the last one stopped.
//
//   CORVENZA_API_URL=... CORVENZA_API_KEY=... queued_creation FRONT.jpg SIDE.jpg [QUEUE_DIR]
//
// corvenza-config.json is read from $CORVENZA_BUNDLE_DIR (or the directory of
// this program). The queue lives in QUEUE_DIR, else $CORVENZA_QUEUE_DIR, else
// ./corvenza-queue; CORVENZA_USER_ID names the user.

#include <corvenza/corvenza.h>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

using namespace corvenza;

namespace {

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: " << argv[0] << " FRONT_PHOTO SIDE_PHOTO [QUEUE_DIR]\n";
    return 2;
  }
  const auto apiUrl = env("CORVENZA_API_URL");
  const auto apiKey = env("CORVENZA_API_KEY");
  if (apiUrl.empty() || apiKey.empty()) {
    std::cerr << "set CORVENZA_API_URL and CORVENZA_API_KEY\n";
    return 2;
  }
  std::filesystem::path folder = argc > 3 ? argv[3] : env("CORVENZA_QUEUE_DIR");
  if (folder.empty()) folder = "corvenza-queue";

  EstimationParameter parameter;
  parameter.heightInCm = 170;
  parameter.weightInKg = 62.5;
  parameter.age = 35;
  parameter.gender = Gender::female();
  parameter.frontImage = Image::fromFile(argv[1], kUploadPhotoWidth);
  parameter.sideImage = Image::fromFile(argv[2], kUploadPhotoWidth);
  if (!parameter.frontImage || !parameter.sideImage) {
    std::cerr << "cannot read the photos\n";
    return 2;
  }

  auto queue = MainQueue::callerDriven();
  auto provider = std::make_shared<DirectTokenProvider>(apiUrl, apiKey);
  if (const auto user = env("CORVENZA_USER_ID"); !user.empty()) provider->setUserId(user);
  std::shared_ptr<CreationQueue> creations;
  try {
    EstimationClientOptions options;
    options.tokenProvider = provider;
    options.mainQueue = queue;
    auto client = EstimationClient::create(options);
    CreationQueueOptions queueOptions;
    queueOptions.directory = folder;
    creations = CreationQueue::open(client, queueOptions);
    std::cout << "queued " << creations->enqueue(parameter) << "\n";
  } catch (const CorvenzaException& e) {
    std::cerr << "cannot queue: " << e.what() << "\n";
    return 1;
  }

  creations->addListener("example", [](const QueuedCreation& entry) {
    std::cout << entry.queueId << ": " << toString(entry.state);
    if (entry.requestId) std::cout << " (request " << *entry.requestId << ")";
    if (entry.lastError) std::cout << " - " << entry.lastError->localizedDescription();
    std::cout << "\n";
  });
  std::optional<CreationQueueRunSummary> summary;
  CreationQueueRunLimits limits;
  limits.maxConsecutiveFailures = 5;  // then leave the rest for a later run
  creations->run(limits, [&summary](CreationQueueRunSummary s) { summary = s; });
  queue->runUntil([&] { return summary.has_value(); }, std::chrono::minutes(10));
  if (!summary) return 1;
  std::cout << "done " << summary->done << ", failed " << summary->failed << ", unfinished "
            << summary->unfinished << "\n";
  return summary->failed == 0 && summary->unfinished == 0 ? 0 : 1;
}
