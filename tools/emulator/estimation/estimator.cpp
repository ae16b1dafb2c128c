#include "estimation/estimator.h"

#include <algorithm>

#include "base/log.h"
#include "estimation/body_model.h"

namespace corvenza::emulator::estimation {

Estimator::Estimator(EstimationStore& store, std::chrono::milliseconds delay)
    : store_(store), delay_(delay), gate_(std::make_shared<Gate>()) {
  gate_->target = this;
  listener_ = store_.addListener(
      [gate = gate_](ChangeKind kind, const std::string&, const nlohmann::json& record) {
        if (kind != ChangeKind::Update || record.value("status", "") != kStatusPendingAutomatic) {
          return;
        }
        std::lock_guard lock(gate->mutex);
        if (gate->target) gate->target->schedule(record.value("id", ""));
      });
}

Estimator::~Estimator() {
  store_.removeListener(listener_);
  {
    std::lock_guard lock(gate_->mutex);
    gate_->target = nullptr;
  }
  stop();
}

void Estimator::start() {
  if (auto pending = store_.pendingAutomatic()) {
    for (const auto& id : *pending) schedule(id);
  } else {
    logLine("estimator: " + pending.error().localizedDescription());
  }
  std::lock_guard lock(mutex_);
  if (thread_.joinable() || stopping_) return;
  thread_ = std::thread([this] { run(); });
}

void Estimator::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void Estimator::schedule(const std::string& id) {
  {
    std::lock_guard lock(mutex_);
    const auto existing =
        std::find_if(jobs_.begin(), jobs_.end(), [&id](const Job& job) { return job.id == id; });
    if (existing != jobs_.end()) return;
    jobs_.push_back({Clock::now() + delay_, id});
  }
  wake_.notify_all();
}

std::size_t Estimator::scheduledCount() const {
  std::lock_guard lock(mutex_);
  return jobs_.size();
}

std::size_t Estimator::runPendingNow() {
  std::vector<Job> taken;
  {
    std::lock_guard lock(mutex_);
    taken.swap(jobs_);
  }
  for (const auto& job : taken) process(job.id);
  return taken.size();
}

void Estimator::run() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (jobs_.empty()) {
      wake_.wait(lock);
      continue;
    }
    const auto next = std::min_element(jobs_.begin(), jobs_.end(),
                                       [](const Job& a, const Job& b) { return a.due < b.due; });
    if (next->due > Clock::now()) {
      // A copy: waiting lets schedule() grow the vector under the iterator.
      const auto due = next->due;
      wake_.wait_until(lock, due);
      continue;
    }
    const auto id = next->id;
    jobs_.erase(next);
    // The store calls back into schedule() from its listeners.
    lock.unlock();
    process(id);
    lock.lock();
  }
}

void Estimator::setThumbnailMaker(ThumbnailMaker maker) {
  std::lock_guard lock(mutex_);
  thumbnailMaker_ = std::move(maker);
}

S3Location Estimator::thumbnail(const S3Location& source, const std::string& targetKey) const {
  ThumbnailMaker maker;
  {
    std::lock_guard lock(mutex_);
    maker = thumbnailMaker_;
  }
  if (!maker) return source;
  try {
    if (auto made = maker(source, targetKey)) return *made;
  } catch (...) {
    // A failing thumbnail must not stop the estimation; the original photo serves.
  }
  return source;
}

EstimationOutcome Estimator::completion(const EstimationRecord& record) const {
  EstimationOutcome outcome;
  outcome.status = kStatusCompleted;
  outcome.measurements =
      estimateMeasurements(Person{record.height, record.weight, record.age, record.gender});
  const auto front = record.images.find("frontImage");
  const auto side = record.images.find("sideImage");
  const auto prefix = record.userId + "/" + record.id + "/";
  if (front != record.images.end()) {
    outcome.images["frontImageThumb"] = thumbnail(front->second, prefix + "front_thumb.jpg");
    outcome.images["annotatedFrontImageThumb"] =
        thumbnail(front->second, prefix + "front_annotated_thumb.jpg");
    outcome.images["annotatedFrontImage"] = front->second;
  }
  if (side != record.images.end()) {
    outcome.images["sideImageThumb"] = thumbnail(side->second, prefix + "side_thumb.jpg");
    outcome.images["annotatedSideImageThumb"] =
        thumbnail(side->second, prefix + "side_annotated_thumb.jpg");
    outcome.images["annotatedSideImage"] = side->second;
  }
  return outcome;
}

void Estimator::process(const std::string& id) {
  auto found = store_.find(id);
  if (!found) {
    logLine("estimator: " + found.error().localizedDescription());
    return;
  }
  if (!*found || (*found)->status != kStatusPendingAutomatic) return;
  const auto& record = **found;

  EstimationOutcome outcome;
  const Person person{record.height, record.weight, record.age, record.gender};
  if (!isPlausible(person)) {
    if (record.failOnAutomaticEstimationFailure.value_or(false)) {
      outcome.status = kStatusFailed;
      outcome.errorCode = kAutomaticEstimationFailed;
    } else {
      outcome.status = kStatusPendingManual;
    }
  } else {
    outcome = completion(record);
  }
  auto stored = store_.finishAutomatic(id, outcome);
  if (!stored) {
    logLine("estimator: " + stored.error().localizedDescription());
  } else if (*stored) {
    logLine("estimator: request " + id + " is now " + outcome.status);
  }
}

void Estimator::unschedule(const std::string& id) {
  std::lock_guard lock(mutex_);
  std::erase_if(jobs_, [&id](const Job& job) { return job.id == id; });
}

detail::Result<Estimator::DecisionResult> Estimator::decideNow(const std::string& id,
                                                               Decision decision) {
  auto found = store_.find(id);
  if (!found) return found.error();
  if (!*found) return DecisionResult::NotFound;
  const auto& record = **found;
  if (record.status != kStatusPendingAutomatic && record.status != kStatusPendingManual) {
    return DecisionResult::NotPending;
  }
  // An operator completes even a person outside the plausible ranges: that is
  // what a manual estimation does.
  EstimationOutcome outcome;
  if (decision == Decision::Complete) {
    outcome = completion(record);
  } else {
    outcome.status = kStatusFailed;
    outcome.errorCode = kAutomaticEstimationFailed;
  }
  auto stored = store_.finishPending(id, outcome);
  if (!stored) return stored.error();
  // Decided, or moved on meanwhile; either way nothing is left to schedule.
  unschedule(id);
  if (!*stored) return DecisionResult::NotPending;
  logLine("estimator: request " + id + " is now " + outcome.status + " (decided now)");
  return DecisionResult::Decided;
}

}  // namespace corvenza::emulator::estimation
