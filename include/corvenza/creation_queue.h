#pragma once
/// @file
/// CreationQueue: creations that survive network failures, stalls, crashes
/// and restarts.
///
///     auto queue = corvenza::CreationQueue::open(client, {.directory = dataDir / "queue"});
///     auto id = queue->enqueue(parameter);   // photos prepared and stored; nothing sent yet
///     queue->run({}, [](corvenza::CreationQueueRunSummary summary) { ... });
///
/// enqueue() prepares both photos, stores them and the parameter in a
/// private folder (0700, files 0600) with a SQLite database, and returns a
/// queue id before any network step. run() takes every unfinished entry
/// through create, front photo, side photo and read-back, recording each step
/// as it completes; a later run (in this process or another, after a crash)
/// resumes where the entry stopped. Transient failures (transport errors,
/// time-outs, HTTP 5xx and 429, throttling, answers that cannot be read) are
/// retried with capped, jittered backoff; permanent ones (validation, other
/// 4xx, a photo the service refuses, a request that is gone) end the entry as
/// failed with the error kept. Local problems (sign-in refused, a folder that
/// cannot be written, storage not set up) stop the run and keep every entry
/// (CreationQueueRunSummary::stopReason). An entry's photos are removed once
/// it is done, failed or dropped. See docs/creation-queue.md for the guarantees and
/// where a duplicate can still arise.
///
/// One queue per folder and per client; the folder belongs to one user (give
/// each user a folder of their own). Every member is thread-safe; listeners
/// and completions run on the client's main queue.

#include <corvenza/error.h>
#include <corvenza/estimation.h>
#include <corvenza/estimation_client.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvenza {

/// Domain of the queue's own errors.
inline constexpr const char* kCreationQueueErrorDomain = "CorvenzaCreationQueueError";
enum class CreationQueueErrorCode : int {
  /// The folder or its database cannot be opened or written.
  storage = 1,
  /// The entry limit or the byte limit would be passed.
  full = 2,
  /// The parameter lacks a photo or a photo cannot be prepared.
  invalidParameter = 3,
  /// The service no longer holds the request an entry created.
  requestGone = 4,
  /// Another process runs this folder's queue now.
  runningElsewhere = 5,
};

/// Where an entry stands: the last step that completed.
enum class QueuedCreationState { pending, created, frontAttached, sideAttached, done, failed };
/// "pending", "created", "frontAttached", "sideAttached", "done" or "failed".
std::string_view toString(QueuedCreationState state);

/// One entry as the queue holds it.
struct QueuedCreation {
  std::string queueId;
  QueuedCreationState state = QueuedCreationState::pending;
  /// The service's request, once the create step has answered.
  std::optional<std::string> requestId;
  /// The latest failure (the one that ended a failed entry).
  std::optional<Error> lastError;
  /// Network attempts that failed so far.
  int failedAttempts = 0;
  std::chrono::system_clock::time_point enqueuedAt;
  double heightInCm = 0;
  double weightInKg = 0;
  int age = 0;
  std::optional<Gender> gender;
  bool failOnAutomaticEstimationFailure = false;

  bool finished() const {
    return state == QueuedCreationState::done || state == QueuedCreationState::failed;
  }
};

struct CreationQueueOptions {
  /// The queue's folder; required. Made (0700) when missing.
  std::filesystem::path directory;
  /// Unfinished entries at most; enqueue() refuses more.
  std::size_t maxEntries = 200;
  /// Bytes of stored photos at most; enqueue() refuses more.
  std::uint64_t maxBytes = 512ull * 1024 * 1024;
  /// Entries that run at once.
  int concurrency = 2;
  /// Backoff before the first retry; it doubles up to maxBackoff, jittered.
  std::chrono::milliseconds initialBackoff{500};
  std::chrono::milliseconds maxBackoff{30'000};
  /// How long each network step may take before it counts as a transient failure.
  std::chrono::milliseconds stepTimeout{45'000};
};

struct CreationQueueRunLimits {
  /// Transient failures in a row after which this run leaves an entry
  /// unfinished (its state and error kept for a later run); 0 never gives up.
  int maxConsecutiveFailures = 0;
};

/// How a run ended: entries done, failed and left unfinished. Entries that
/// had finished before the run are not counted.
struct CreationQueueRunSummary {
  int done = 0;
  int failed = 0;
  int unfinished = 0;
  /// Another process runs this folder's queue now; this run did nothing.
  bool runningElsewhere = false;
  /// Why the run stopped before its entries ended, when something no retry
  /// mends got in the way: the folder cannot be written (a full disk), sign-in
  /// was refused (a wrong API key, an identity the service no longer knows),
  /// or photo storage is not set up. Every unfinished entry is kept with its
  /// photos and its step; mend the cause and run again.
  std::optional<Error> stopReason;
};

class CreationQueue {
 public:
  /// Opens (or creates) the queue in @p options.directory for @p client.
  /// @throws CorvenzaException (kCreationQueueErrorDomain, storage) when the
  ///         folder or its database cannot be used, or (invalidParameter)
  ///         when no client or folder is given.
  static std::shared_ptr<CreationQueue> open(std::shared_ptr<EstimationClient> client,
                                             CreationQueueOptions options);
  ~CreationQueue();
  CreationQueue(const CreationQueue&) = delete;
  CreationQueue& operator=(const CreationQueue&) = delete;

  /// Prepares both photos (at once), stores them with the parameter and
  /// returns the new entry's queue id. Sends nothing; a run in progress picks
  /// the entry up.
  /// @throws CorvenzaException: invalidParameter, full or storage.
  std::string enqueue(const EstimationParameter& parameter);

  /// Every entry, oldest first.
  std::vector<QueuedCreation> entries() const;
  std::optional<QueuedCreation> entry(const std::string& queueId) const;

  /// Removes an entry and its files. False when there is no such entry or it
  /// is running now.
  /// @throws CorvenzaException runningElsewhere while another process runs
  ///         the folder, storage when the entry cannot be removed.
  bool drop(const std::string& queueId);

  /// Runs every unfinished entry, at most `concurrency` at once, until each
  /// is done, failed or (with a limit) given up for this run; then calls
  /// @p done once on the main queue. A run already in progress is joined:
  /// @p done is called when it ends. One process at a time runs a folder:
  /// while another does, @p done hears `runningElsewhere`. A run first picks
  /// up the entries other processes added.
  void run(CreationQueueRunLimits limits, std::function<void(CreationQueueRunSummary)> done);

  /// Hears each entry's changes (state, request id, error) on the main queue.
  using Listener = std::function<void(const QueuedCreation& entry)>;
  void addListener(const std::string& name, Listener listener);
  void removeListener(const std::string& name);

  /// Hears the bytes of each photo upload on the main queue.
  using UploadListener = std::function<void(const std::string& queueId, bool front,
                                            std::uint64_t bytesSent, std::uint64_t bytesTotal)>;
  void setUploadListener(UploadListener listener);

  /// Internal.
  struct Impl;

 private:
  explicit CreationQueue(std::shared_ptr<Impl> impl);
  std::shared_ptr<Impl> impl_;
};

}  // namespace corvenza
