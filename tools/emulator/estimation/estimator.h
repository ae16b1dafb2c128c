#pragma once
// Completes estimation requests the way the real back end eventually does:
// a fixed delay after a request reaches "pendingAutomaticEstimation" it gets
// measurements, thumbnails and "completed", or, for a person outside the
// plausible ranges, "failed" or "pendingManualEstimation".

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "estimation/estimation_record.h"
#include "estimation/estimation_store.h"

namespace corvenza::emulator::estimation {

/// The error code of a request whose automatic estimation failed.
inline constexpr const char* kAutomaticEstimationFailed = "AUTOMATIC_ESTIMATION_FAILED";

class Estimator {
 public:
  using Clock = std::chrono::steady_clock;
  /// Makes a scaled copy of the photo at @p source under @p targetKey in the
  /// same bucket; returns where it went, or nothing to fall back to the
  /// original photo. Called on the estimator's thread.
  using ThumbnailMaker =
      std::function<std::optional<S3Location>(const S3Location& source, std::string targetKey)>;

  static constexpr std::chrono::milliseconds kDefaultDelay{2000};

  /// Watches @p store (which must outlive the estimator) for requests that
  /// become ready. Nothing runs until start() or runPendingNow().
  explicit Estimator(EstimationStore& store, std::chrono::milliseconds delay = kDefaultDelay);
  /// Stops and joins the thread.
  ~Estimator();
  Estimator(const Estimator&) = delete;
  Estimator& operator=(const Estimator&) = delete;

  /// Installs (or, with an empty function, removes) the thumbnail maker.
  /// Thread-safe: the storage service may plug in after the estimator started.
  void setThumbnailMaker(ThumbnailMaker maker);

  /// Schedules the requests already waiting in the store and starts the
  /// estimator's own thread. Call at most once.
  void start();
  /// Stops the thread and joins it; scheduled work stays unprocessed. Idempotent.
  void stop();

  /// Schedules request @p id for `delay` from now. Thread-safe.
  void schedule(const std::string& id);

  /// Processes every scheduled request at once on the calling thread,
  /// ignoring the delay; returns how many were taken. For tests and tools.
  std::size_t runPendingNow();

  /// Requests scheduled and not yet processed.
  std::size_t scheduledCount() const;

  enum class Decision { Complete, Fail };
  enum class DecisionResult { Decided, NotFound, NotPending };
  /// Decides request @p id at once on the calling thread, whatever its delay,
  /// for an operator: Complete gives it measurements and thumbnails, Fail
  /// gives it "failed" with kAutomaticEstimationFailed. Applies to requests
  /// waiting for automatic or manual estimation; others are NotPending.
  detail::Result<DecisionResult> decideNow(const std::string& id, Decision decision);

 private:
  struct Job {
    Clock::time_point due;
    std::string id;
  };
  void run();
  void process(const std::string& id);
  void unschedule(const std::string& id);
  EstimationOutcome completion(const EstimationRecord& record) const;
  S3Location thumbnail(const S3Location& source, const std::string& targetKey) const;

  // The store may be calling the listener on another thread while the
  // estimator goes away; the gate makes such a late call a no-op.
  struct Gate {
    std::mutex mutex;
    Estimator* target = nullptr;
  };

  EstimationStore& store_;
  const std::chrono::milliseconds delay_;
  std::shared_ptr<Gate> gate_;
  int listener_ = 0;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<Job> jobs_;
  ThumbnailMaker thumbnailMaker_;  // guarded by mutex_
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace corvenza::emulator::estimation
