#include "requests/catch_up.h"

#include <corvenza/estimation_fields.h>
#include <corvenza/main_queue.h>
#include <corvenza/remote_image.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <set>
#include <sstream>
#include <utility>

#include "requests/client_state.h"
#include "requests/operations.h"

namespace corvenza::requests {
namespace {

// One list of the user's requests in pages of this size, then a read of each,
// this many at once: the cost of knowing them all.
constexpr int kPageSize = 100;
constexpr int kReadsAtOnce = 4;
// A catch-up whose read failed tries again after this, at most this often,
// unless the connection restarts first.
constexpr auto kRetryDelay = std::chrono::seconds(5);
constexpr int kMaxRetries = 5;

std::size_t indexOf(EstimationEventKind kind) { return static_cast<std::size_t>(kind); }

std::string statusOf(const EstimationRequest& record) {
  return record.status ? record.status->rawValue() : std::string();
}

bool isNotFound(const std::optional<Errors>& errors) {
  return errors && !errors->empty() &&
         errors->front().userInfoValue(error_info::kReason) == "notFound";
}

// Every request of the user, each as a read gives it, in the list's order;
// nothing when a page or a read fails.
class FullRead : public std::enable_shared_from_this<FullRead> {
 public:
  using Done = std::function<void(std::optional<Records>)>;
  FullRead(std::shared_ptr<ClientState> state, Done done)
      : state_(std::move(state)), done_(std::move(done)) {}

  void page(std::optional<std::string> token) {
    listEstimationRequests(
        state_, kPageSize, std::move(token),
        [self = shared_from_this()](std::optional<Records> records, std::optional<std::string> next,
                                    std::optional<Errors>) {
          if (!records) return self->end(false);
          for (const auto& record : *records) {
            if (record && record->id) self->ids_.push_back(*record->id);
          }
          if (next) return self->page(std::move(next));
          self->records_.resize(self->ids_.size());
          self->pump();
        });
  }

 private:
  void pump() {
    if (ended_) return;
    if (next_ == ids_.size() && inFlight_ == 0) return end(true);
    while (inFlight_ < kReadsAtOnce && next_ < ids_.size()) {
      const auto at = next_++;
      ++inFlight_;
      getEstimationRequest(
          state_, ids_[at],
          [self = shared_from_this(), at](std::shared_ptr<EstimationRequest> record,
                                          std::optional<Errors> errors) {
            --self->inFlight_;
            // Deleted since the list: it is not there.
            if (!record && !isNotFound(errors)) return self->end(false);
            self->records_[at] = std::move(record);
            self->pump();
          });
    }
  }

  void end(bool read) {
    if (std::exchange(ended_, true)) return;
    if (!read) return done_(std::nullopt);
    Records found;
    for (auto& record : records_) {
      if (record) found.push_back(std::move(record));
    }
    done_(std::move(found));
  }

  const std::shared_ptr<ClientState> state_;
  const Done done_;
  std::vector<std::string> ids_;
  Records records_;
  std::size_t next_ = 0;
  int inFlight_ = 0;
  bool ended_ = false;
};

}  // namespace

std::string fingerprintOf(const EstimationRequest& record) {
  std::ostringstream out;
  out.precision(17);
  const auto put = [&out](const auto& value) {
    if (value) {
      out << *value;
    } else {
      out << '-';
    }
    out << '|';
  };
  const auto image = [&out](const std::shared_ptr<RemoteImageProxy>& proxy) {
    const auto object = proxy ? proxy->s3Object() : std::nullopt;
    if (object) {
      out << object->getBucketName() << "/" << object->getKeyName() << "@" << object->getRegion();
    }
    out << '|';
  };
  out << statusOf(record) << '|' << (record.gender ? record.gender->rawValue() : "-") << '|';
  put(record.height);
  put(record.weight);
  put(record.age);
  put(record.failOnAutomaticEstimationFailure);
  put(record.errorCode);
  if (record.createdAt) out << record.createdAt->time_since_epoch().count();
  out << '|';
  for (const auto* proxy :
       {&record.frontImage, &record.sideImage, &record.frontImageThumb, &record.sideImageThumb}) {
    image(*proxy);
  }
  if (record.result) {
    for (const auto& field : kMeasurementFields) put((*record.result).*field.member);
    put(record.result->errorCode);
  }
  return out.str();
}

std::vector<CaughtUpChange> changesBetween(const KnownRequests& known, const Records& now) {
  std::vector<CaughtUpChange> changes;
  std::set<std::string> seen;
  for (const auto& record : now) {
    if (!record || !record->id) continue;
    seen.insert(*record->id);
    const auto it = known.find(*record->id);
    if (it == known.end()) {
      changes.push_back({EstimationEventKind::creation, record});
    } else if (it->second.fingerprint.empty() ? it->second.status != statusOf(*record)
                                              : it->second.fingerprint != fingerprintOf(*record)) {
      changes.push_back({EstimationEventKind::update, record});
    }
  }
  for (const auto& [id, request] : known) {
    if (seen.count(id)) continue;
    auto gone = std::make_shared<EstimationRequest>();
    gone->id = id;
    if (!request.status.empty()) gone->status = BodysizeEstimationStatus(request.status);
    changes.push_back({EstimationEventKind::deletion, std::move(gone)});
  }
  return changes;
}

void CatchUp::started(const State& state, EstimationEventKind kind) {
  std::uint64_t generation;
  {
    std::lock_guard lock(mutex_);
    const bool again = std::exchange(startedBefore_[indexOf(kind)], true);
    const bool catchUp = again && haveKnown_;
    if (reading_ != Reading::none) {
      if (catchUp) again_ = true;
      return;
    }
    reading_ = catchUp ? Reading::catchUp : Reading::baseline;
    retries_ = 0;
    generation = generation_;
  }
  read(state, generation);
}

bool CatchUp::holdLive(const State& state, EstimationEventKind kind,
                       const std::shared_ptr<EstimationRequest>& record) {
  if (!record || !record->id) return false;
  {
    std::lock_guard lock(mutex_);
    if (reading_ != Reading::none) {
      heardWhileReading_.push_back({kind, record});
      if (reading_ != Reading::catchUp) return false;
      held_.push_back({kind, record});
      return true;
    }
    note({kind, record});
  }
  refresh(state);
  return false;
}

void CatchUp::refresh(const State& state) {
  std::vector<std::string> ids;
  std::uint64_t generation;
  {
    std::lock_guard lock(mutex_);
    for (auto id = stale_.begin(); id != stale_.end();) {
      if (!refreshing_.insert(*id).second) {
        ++id;  // its read is on the way; the next event reads it again
        continue;
      }
      ids.push_back(*id);
      id = stale_.erase(id);
    }
    generation = generation_;
  }
  std::weak_ptr<ClientState> weak = state;
  for (const auto& id : ids) {
    getEstimationRequest(state, id, [this, weak, id, generation](auto record, auto) {
      const auto alive = weak.lock();  // this object lives in the state
      if (!alive) return;
      std::lock_guard lock(mutex_);
      if (generation != generation_) return;
      refreshing_.erase(id);
      const auto known = known_.find(id);
      // A read older or newer than the last event leaves the status to compare.
      if (!record || known == known_.end() || stale_.count(id) ||
          !known->second.fingerprint.empty() || known->second.status != statusOf(*record)) {
        return;
      }
      known->second.fingerprint = fingerprintOf(*record);
    });
  }
}

void CatchUp::stopped(EstimationEventKind kind) {
  std::lock_guard lock(mutex_);
  startedBefore_[indexOf(kind)] = false;
  for (const bool running : startedBefore_) {
    if (running) return;
  }
  known_.clear();
  haveKnown_ = false;
  reading_ = Reading::none;
  again_ = false;
  held_.clear();
  heardWhileReading_.clear();
  stale_.clear();
  refreshing_.clear();
  ++generation_;
}

void CatchUp::read(const State& state, std::uint64_t generation) {
  std::weak_ptr<ClientState> weak = state;
  auto full =
      std::make_shared<FullRead>(state, [this, weak, generation](std::optional<Records> now) {
        // The state owns this object; a read in flight holds the state.
        if (auto state = weak.lock()) finish(state, generation, std::move(now));
      });
  full->page(std::nullopt);
}

void CatchUp::finish(const State& state, std::uint64_t generation, std::optional<Records> now) {
  std::vector<CaughtUpChange> changes;
  std::vector<Live> held;
  bool again;
  bool retry = false;
  {
    std::lock_guard lock(mutex_);
    if (generation != generation_) return;
    const bool catchingUp = reading_ == Reading::catchUp;
    reading_ = Reading::none;
    held.swap(held_);
    if (now) {
      if (catchingUp) changes = changesBetween(known_, *now);
      known_.clear();
      stale_.clear();
      for (const auto& record : *now) {
        known_[*record->id] = {statusOf(*record), fingerprintOf(*record)};
      }
      haveKnown_ = true;
    } else if (catchingUp && retries_ < kMaxRetries) {
      retry = true;
    }
    // Events heard since the read began are newer than what it may have seen.
    for (const auto& event : heardWhileReading_) note(event);
    heardWhileReading_.clear();
    again = std::exchange(again_, false);
  }
  const auto deliver = [&state](EstimationEventKind kind,
                                const std::shared_ptr<EstimationRequest>& record) {
    for (auto& listener : state->session().listeners(kind)) listener(record, std::nullopt);
  };
  for (const auto& change : changes) deliver(change.kind, change.record);
  for (const auto& event : held) {
    // Caught up already with the state this event brings.
    const bool delivered = std::any_of(changes.begin(), changes.end(), [&](const auto& change) {
      return change.kind == event.kind && change.record->id == event.record->id &&
             (event.kind == EstimationEventKind::deletion ||
              statusOf(*change.record) == statusOf(*event.record));
    });
    if (!delivered) deliver(event.kind, event.record);
  }
  refresh(state);
  if (again) return restart(state);
  if (retry) {
    std::weak_ptr<ClientState> weak = state;
    state->queue()->asyncAfter(std::chrono::duration_cast<MainQueue::Duration>(kRetryDelay),
                               std::make_shared<DispatchWorkItem>([this, weak, generation] {
                                 auto state = weak.lock();
                                 if (!state) return;
                                 {
                                   std::lock_guard lock(mutex_);
                                   if (generation != generation_ || reading_ != Reading::none) {
                                     return;
                                   }
                                   reading_ = Reading::catchUp;
                                   ++retries_;
                                 }
                                 read(state, generation);
                               }));
  }
}

void CatchUp::restart(const State& state) {
  std::uint64_t generation;
  {
    std::lock_guard lock(mutex_);
    if (reading_ != Reading::none) return;
    reading_ = haveKnown_ ? Reading::catchUp : Reading::baseline;
    retries_ = 0;
    generation = generation_;
  }
  read(state, generation);
}

void CatchUp::note(const Live& event) {
  const auto& id = *event.record->id;
  if (event.kind == EstimationEventKind::deletion) {
    known_.erase(id);
    stale_.erase(id);
  } else {
    known_[id] = {statusOf(*event.record), std::string()};
    stale_.insert(id);
  }
}

}  // namespace corvenza::requests
