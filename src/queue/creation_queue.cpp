// The durable creation queue: entries stored with their prepared photos, run
// step by step on the client's main queue, each completed step recorded
// before the next is sent.

#include <corvenza/console.h>
#include <corvenza/creation_queue.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <future>
#include <map>
#include <mutex>
#include <random>
#include <set>

#include "core/backoff.h"
#include "core/unique_fd.h"
#include "creation/creation_context.h"
#include "creation/step_sender.h"
#include "graphql/operations.h"
#include "platform/image/photo_preparation.h"
#include "queue/failure_kind.h"
#include "queue/queue_store.h"
#include "requests/graphql_gateway.h"
#include "requests/operation_guard.h"
#include "requests/request_support.h"
#include "requests/typed_graphql.h"

namespace corvenza {

std::string_view toString(QueuedCreationState state) {
  switch (state) {
    case QueuedCreationState::pending:
      return "pending";
    case QueuedCreationState::created:
      return "created";
    case QueuedCreationState::frontAttached:
      return "frontAttached";
    case QueuedCreationState::sideAttached:
      return "sideAttached";
    case QueuedCreationState::done:
      return "done";
    case QueuedCreationState::failed:
      break;
  }
  return "failed";
}

namespace {

using queue::StoredEntry;
using State = QueuedCreationState;

// A request created this long before the lost create was sent is not ours:
// the service's clock and ours may differ by this much.
constexpr std::int64_t kAdoptionWindowMs = 120'000;
// Pages of the user's list read when looking for a request to adopt.
constexpr int kAdoptionPages = 5;
// Uploads of one entry cut after moving bytes before this run leaves it: on a
// link that drops every photo part way, each try spends the user's data again.
constexpr int kMaxCutUploads = 3;

std::int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

Error stepTimeoutError(const std::string& step, std::chrono::milliseconds limit) {
  return CorvenzaError(
      CorvenzaErrorReason::appSyncClientTimeOut,
      UserInfo{{error_info::kDetail, "The service did not answer in time"},
               {error_info::kStep, step},
               {"limitSeconds",
                std::to_string(std::chrono::duration_cast<std::chrono::seconds>(limit).count())}});
}

}  // namespace

struct CreationQueue::Impl : std::enable_shared_from_this<CreationQueue::Impl> {
  explicit Impl(std::shared_ptr<EstimationClient> c)
      : client(std::move(c)), context({client, &client->state()}) {}

  std::shared_ptr<EstimationClient> client;
  creation::CreationContext context;
  CreationQueueOptions options;
  std::unique_ptr<queue::QueueStore> store;

  mutable std::mutex mutex;  // guards everything below; never held while calling out
  std::vector<StoredEntry> entries;
  std::map<std::string, Listener> listeners;
  UploadListener uploadListener;

  // The run in progress.
  bool running = false;
  CreationQueueRunLimits limits;
  std::vector<std::function<void(CreationQueueRunSummary)>> waiters;
  CreationQueueRunSummary summary;
  std::set<std::string> active;    // entries with a step in flight or a retry pending
  std::set<std::string> givenUp;   // left unfinished by this run
  std::set<std::string> verified;  // request seen on the service by this process
  std::map<std::string, int> inARow;
  std::map<std::string, int> proofRefreshes;        // in a row, per entry
  std::set<std::string> identityRereads;            // read again for a missing identity
  std::map<std::string, std::string> claims;        // request id -> the entry that adopted it
  std::map<std::string, std::uint64_t> bytesMoved;  // by the upload in flight, per entry
  std::map<std::string, int> cutUploads;            // after moving bytes, this run
  std::mt19937_64 random{std::random_device{}()};
  // Set when something that no retry mends stopped the run (the folder cannot
  // be written, sign-in is refused): no further entry starts.
  bool stopping = false;
  // Held while a run is in progress, so two processes never run one folder.
  detail::UniqueFd runLock;
  std::mutex startMutex;  // serialises run() starts; taken before `mutex`

  // The folder's run lock; runningElsewhere while another process holds it,
  // storage when it cannot be opened at all.
  detail::Result<detail::UniqueFd> lockFolder() const {
    const auto path = store->directory() / "run.lock";
    detail::UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (fd.get() < 0) {
      const int code = errno;
      UserInfo info{{"errno", std::to_string(code)}};
      if (code == ENOSPC) info["diskFull"] = "true";
      return queue::queueError(
          CreationQueueErrorCode::storage,
          std::string("The creation queue's run lock cannot be opened: ") + std::strerror(code),
          std::move(info));
    }
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
      return queue::queueError(CreationQueueErrorCode::runningElsewhere,
                               "Another process is running this queue");
    }
    return fd;
  }

  // Entries another process added or dropped since this one last looked.
  void reload() {
    auto loaded = store->load();
    if (!loaded) return;
    std::lock_guard lock(mutex);
    std::vector<StoredEntry> merged;
    for (auto& fresh : *loaded) {
      if (auto* known = find(fresh.view.queueId)) {
        merged.push_back(*known);
      } else {
        merged.push_back(std::move(fresh));
      }
    }
    entries = std::move(merged);
  }

  std::shared_ptr<MainQueue> queue() const { return context.queue(); }

  StoredEntry* find(const std::string& id) {
    for (auto& e : entries) {
      if (e.view.queueId == id) return &e;
    }
    return nullptr;
  }

  std::optional<StoredEntry> copyOf(const std::string& id) {
    std::lock_guard lock(mutex);
    auto* e = find(id);
    return e ? std::optional<StoredEntry>(*e) : std::nullopt;
  }

  // Records @p entry's new fields, then tells the listeners (unless @p quietly).
  // When the write fails the entry stops here for this run and false comes
  // back: acting on a step the folder does not hold (sending the next one,
  // removing the photos) could make a second request after a restart.
  // What this process holds of an entry is what the folder holds, so that a
  // later run here resumes exactly as a run of another process would.
  bool record(const StoredEntry& updated, bool quietly = false) {
    if (auto written = store->update(updated); !written) {
      consoleLine("Warning: " + written.error().localizedDescription());
      stop(updated.view.queueId, written.error());
      return false;
    }
    {
      std::lock_guard lock(mutex);
      if (auto* e = find(updated.view.queueId)) *e = updated;
    }
    if (!quietly) notify(updated.view);
    return true;
  }

  // Ends this run for entry @p id, keeping its state and photos, and starts no
  // other: @p why (the folder, sign-in, the set-up) would stop them all.
  void stop(const std::string& id, const Error& why) {
    {
      std::lock_guard lock(mutex);
      givenUp.insert(id);
      stopping = true;
      if (!summary.stopReason) summary.stopReason = why;
    }
    release(id);
  }

  void notify(const QueuedCreation& view) {
    std::vector<Listener> copies;
    {
      std::lock_guard lock(mutex);
      for (const auto& [name, listener] : listeners) copies.push_back(listener);
    }
    if (copies.empty()) return;
    queue()->async([copies = std::move(copies), view] {
      for (const auto& listener : copies) listener(view);
    });
  }

  // --- scheduling ----------------------------------------------------------

  void pump() {
    std::vector<std::string> toStart;
    std::vector<std::function<void(CreationQueueRunSummary)>> finished;
    CreationQueueRunSummary result;
    {
      std::lock_guard lock(mutex);
      if (!running) return;
      for (const auto& e : entries) {
        if (static_cast<int>(active.size() + toStart.size()) >= std::max(1, options.concurrency)) {
          break;
        }
        const auto& id = e.view.queueId;
        if (stopping) break;
        if (e.view.finished() || active.count(id) || givenUp.count(id)) continue;
        toStart.push_back(id);
      }
      for (const auto& id : toStart) active.insert(id);
      if (active.empty()) {
        running = false;
        runLock = detail::UniqueFd();
        result = summary;
        result.unfinished = 0;
        for (const auto& e : entries) {
          if (!e.view.finished() && (stopping || givenUp.count(e.view.queueId))) {
            ++result.unfinished;
          }
        }
        finished.swap(waiters);
      }
    }
    for (const auto& id : toStart) step(id);
    for (auto& done : finished) {
      if (done) queue()->async([done, result] { done(result); });
    }
  }

  void release(const std::string& id) {
    {
      std::lock_guard lock(mutex);
      active.erase(id);
    }
    pump();
  }

  // Runs the next step of entry @p id according to its state.
  void step(const std::string& id) {
    {
      std::lock_guard lock(mutex);
      if (stopping) givenUp.insert(id);
    }
    if (isGivenUp(id)) return release(id);
    auto entry = copyOf(id);
    if (!entry || entry->view.finished()) return release(id);
    switch (entry->view.state) {
      case State::pending:
        if (entry->createSentAtMs) return adoptOrCreate(*entry);
        return create(*entry);
      case State::created:
      case State::frontAttached:
      case State::sideAttached:
        if (!isVerified(id)) return verify(*entry);
        if (entry->view.state == State::created) return attach(*entry, true);
        if (entry->view.state == State::frontAttached) return attach(*entry, false);
        return readBack(*entry);
      case State::done:
      case State::failed:
        break;
    }
    release(id);
  }

  bool isGivenUp(const std::string& id) {
    std::lock_guard lock(mutex);
    return givenUp.count(id) != 0;
  }

  bool isVerified(const std::string& id) {
    std::lock_guard lock(mutex);
    return verified.count(id) != 0;
  }

  void advance(StoredEntry entry, State next) {
    entry.view.state = next;
    entry.view.lastError.reset();
    {
      std::lock_guard lock(mutex);
      inARow.erase(entry.view.queueId);
      proofRefreshes.erase(entry.view.queueId);
      identityRereads.erase(entry.view.queueId);
      bytesMoved.erase(entry.view.queueId);
      cutUploads.erase(entry.view.queueId);
    }
    if (!record(entry)) return;
    if (next == State::done) {
      {
        std::lock_guard lock(mutex);
        ++summary.done;
      }
      store->removePhotos(entry);
      return release(entry.view.queueId);
    }
    step(entry.view.queueId);
  }

  // Forgets the proof the service refused, so the next attempt fetches a
  // fresh one. True when there was something to forget and this entry has
  // not just done so twice in a row.
  bool refreshProof(const std::string& id, const Error& error) {
    const auto stale = queue::staleProof(error);
    if (stale == queue::StaleProof::none) return false;
    {
      std::lock_guard lock(mutex);
      if (++proofRefreshes[id] > 2) return false;
    }
    context.forgetProof(stale == queue::StaleProof::token);
    return true;
  }

  void fail(StoredEntry entry, Error error) {
    const auto id = entry.view.queueId;
    entry.view.lastError = error;
    ++entry.view.failedAttempts;
    if (!queue::isTransient(error) && !refreshProof(id, error)) {
      if (queue::isLocalProblem(error)) {
        // Nothing was refused about this creation: keep it for a run after
        // the user has mended the cause, which the run's summary names.
        if (record(entry, /*quietly=*/true)) stop(id, error);
        return;
      }
      entry.view.state = State::failed;
      if (!record(entry)) return;
      {
        std::lock_guard lock(mutex);
        ++summary.failed;
      }
      store->removePhotos(entry);
      return release(id);
    }
    int failures;
    std::chrono::milliseconds delay{0};
    bool giveUp;
    bool tooManyCuts = false;
    {
      std::lock_guard lock(mutex);
      failures = ++inARow[id];
      if (std::exchange(bytesMoved[id], 0) > 0) tooManyCuts = ++cutUploads[id] >= kMaxCutUploads;
      giveUp = tooManyCuts ||
               (limits.maxConsecutiveFailures > 0 && failures >= limits.maxConsecutiveFailures);
      if (giveUp) givenUp.insert(id);
      delay = backoffDelay(failures, options.initialBackoff, options.maxBackoff,
                           std::uniform_real_distribution<double>(0, 1)(random));
    }
    if (!record(entry)) return;
    if (tooManyCuts) {
      consoleLine("Warning: the photo upload of " + id + " was cut " +
                  std::to_string(kMaxCutUploads) +
                  " times after it had started; the entry is left for a later run");
    }
    if (giveUp) return release(id);
    // Offline, wait at least a second between looks at the network.
    if (context.offline()) {
      delay = std::max(delay, std::chrono::milliseconds(1000));
    }
    std::weak_ptr<Impl> weak = shared_from_this();
    queue()->asyncAfter(std::chrono::duration_cast<MainQueue::Duration>(delay),
                        std::make_shared<DispatchWorkItem>([weak, id] {
                          if (auto self = weak.lock()) self->step(id);
                        }));
  }

  std::shared_ptr<requests::GraphQLGateway> gateway() { return context.gateway(); }

  // The engine's input for @p step of @p entry.
  static creation::StepInput inputFor(const StoredEntry& entry, creation::CreationStep step) {
    creation::StepInput input;
    input.step = step;
    const auto& v = entry.view;
    input.heightInCm = v.heightInCm;
    input.weightInKg = v.weightInKg;
    input.age = v.age;
    input.gender = v.gender;
    input.failOnAutomaticEstimationFailure = v.failOnAutomaticEstimationFailure;
    input.requestId = v.requestId.value_or("");
    return input;
  }

  // What fails the entry in the outcome of its step @p name; nothing when it was answered.
  std::optional<Error> problemOf(const creation::StepOutcome& out, const std::string& name) const {
    switch (out.kind) {
      case creation::StepOutcome::Kind::answered:
        return std::nullopt;
      case creation::StepOutcome::Kind::timedOut:
        return stepTimeoutError(name, options.stepTimeout);
      case creation::StepOutcome::Kind::refused:
      case creation::StepOutcome::Kind::failed:
        break;
    }
    // An errors member with nothing in it says nothing: an unreadable answer.
    if (out.errors.empty()) return makeInvalidResponseError();
    return out.errors.front().withUserInfo({{error_info::kStep, name}});
  }

  // Sends @p input's step; @p next hears every outcome.
  void sendRaw(creation::StepInput input, std::function<void(Impl&, creation::StepOutcome)> next) {
    std::weak_ptr<Impl> weak = shared_from_this();
    creation::sendStep(context, std::move(input),
                       std::chrono::duration<double>(options.stepTimeout),
                       [weak, next = std::move(next)](creation::StepOutcome out) {
                         if (auto self = weak.lock()) next(*self, std::move(out));
                       });
  }

  // Sends one creation step of @p entry; an answered one goes on to @p next.
  void send(StoredEntry entry, creation::StepInput input,
            std::function<void(Impl&, creation::StepOutcome)> next) {
    const std::string name(creation::stepName(input.step));
    sendRaw(std::move(input),
            [entry, name, next = std::move(next)](Impl& self, creation::StepOutcome out) {
              if (auto problem = self.problemOf(out, name)) return self.fail(entry, *problem);
              next(self, std::move(out));
            });
  }

  // Reads request @p requestId for @p entry's step @p name; @p next hears the
  // record, or null when the service does not hold it. Any other problem
  // fails the entry.
  void read(StoredEntry entry, const std::string& requestId, const std::string& name,
            std::function<void(Impl&, std::shared_ptr<EstimationRequest>)> next) {
    auto input = inputFor(entry, creation::CreationStep::readBack);
    input.requestId = requestId;
    sendRaw(std::move(input),
            [entry, name, next = std::move(next)](Impl& self, creation::StepOutcome out) {
              if (out.kind == creation::StepOutcome::Kind::refused && !out.errors.empty() &&
                  out.errors.front().userInfoValue(error_info::kReason) == "notFound") {
                return next(self, nullptr);
              }
              if (auto problem = self.problemOf(out, name)) return self.fail(entry, *problem);
              next(self, std::move(out.record));
            });
  }

  // --- the steps -----------------------------------------------------------

  void create(StoredEntry entry) {
    if (!gateway()) return fail(entry, requests::notInitializedError());
    // A request whose photos could not go anywhere would be left half-made.
    if (auto unusable = context.checkPhotoStorage()) return fail(entry, *unusable);
    // Written before sending: if the answer is lost, a later attempt looks
    // for the request this one may have made.
    entry.createSentAtMs = nowMs();
    if (!record(entry, /*quietly=*/true)) return;
    send(entry, inputFor(entry, creation::CreationStep::create),
         [entry](Impl& self, creation::StepOutcome out) mutable {
           entry.view.requestId = out.requestId;
           entry.createSentAtMs.reset();
           self.markVerified(entry.view.queueId);
           self.advance(entry, State::created);
         });
  }

  void markVerified(const std::string& id) {
    std::lock_guard lock(mutex);
    verified.insert(id);
  }

  // Makes request @p requestId entry @p id's, unless another entry has it or
  // has claimed it: two entries adopting at once must never share one request.
  bool claim(const std::string& id, const std::string& requestId) {
    std::lock_guard lock(mutex);
    for (const auto& e : entries) {
      if (e.view.queueId != id && e.view.requestId == requestId) return false;
    }
    auto [at, fresh] = claims.emplace(requestId, id);
    return fresh || at->second == id;
  }

  // Request ids other entries of this queue than @p asking own or have claimed.
  std::set<std::string> ownedRequestIds(const std::string& asking) {
    std::lock_guard lock(mutex);
    std::set<std::string> ids;
    for (const auto& e : entries) {
      if (e.view.requestId && e.view.queueId != asking) ids.insert(*e.view.requestId);
    }
    for (const auto& [requestId, owner] : claims) {
      if (owner != asking) ids.insert(requestId);
    }
    return ids;
  }

  // A create was sent and its answer never came: adopt the request it may
  // have made (this user's, made since, same parameters, no photos), else
  // create one. The user's list is read page by page for candidates.
  void adoptOrCreate(StoredEntry entry, std::optional<std::string> token = std::nullopt,
                     int page = 0, std::vector<std::string> candidates = {}) {
    auto client = gateway();
    if (!client) return fail(entry, requests::notInitializedError());
    using Query = graphql::ListBodysizeEstimationsQuery;
    std::weak_ptr<Impl> weak = shared_from_this();
    auto g = requests::OperationGuard::arm(
        std::chrono::duration<double>(options.stepTimeout), queue(), [weak, entry] {
          if (auto self = weak.lock())
            self->fail(entry, stepTimeoutError("create", self->options.stepTimeout));
        });
    g->attach(requests::fetchTyped<Query>(
        *client, Query(std::nullopt, std::int64_t{100}, token),
        appsync::CachePolicy::fetchIgnoringCacheData, queue(),
        [weak, g, entry, page, candidates](std::optional<requests::TypedResult<Query::Data>> result,
                                           std::optional<Error> error) mutable {
          auto self = weak.lock();
          if (!self || !g->settle()) return;
          if (error) return self->fail(entry, error->withUserInfo({{error_info::kStep, "create"}}));
          if (!result) return self->fail(entry, makeInvalidResponseError());
          if (result->errors && !result->errors->empty()) {
            return self->fail(
                entry, result->errors->front().withUserInfo({{error_info::kStep, "create"}}));
          }
          auto connection = result->data ? result->data->listBodysizeEstimations() : std::nullopt;
          const auto owned = self->ownedRequestIds(entry.view.queueId);
          const auto items = connection ? connection->items() : std::nullopt;
          if (items) {
            for (const auto& item : *items) {
              if (!item) continue;
              const auto index = item->fragments().bodysizeEstimationIndexOutput();
              if (index.createdAt() * 1000 < *entry.createSentAtMs - kAdoptionWindowMs) continue;
              if (index.frontImageThumb() || index.sideImageThumb()) continue;
              if (owned.count(index.id())) continue;
              candidates.push_back(index.id());
            }
          }
          auto next = connection ? connection->nextToken() : std::nullopt;
          if (next && page + 1 < kAdoptionPages) {
            return self->adoptOrCreate(entry, next, page + 1, std::move(candidates));
          }
          self->checkCandidate(entry, std::move(candidates), 0);
        }));
  }

  void checkCandidate(StoredEntry entry, std::vector<std::string> candidates, std::size_t index) {
    if (index >= candidates.size()) {
      // Nothing was made by the lost attempt (or it cannot be told apart): create.
      return create(entry);
    }
    read(entry, candidates[index], "create",
         [entry, candidates, index](Impl& self, std::shared_ptr<EstimationRequest> record) mutable {
           const auto& v = entry.view;
           const bool same = record && record->height == v.heightInCm &&
                             record->weight == v.weightInKg && record->age == v.age &&
                             record->gender == v.gender && !record->frontImage &&
                             !record->sideImage && record->id;
           if (!same || !self.claim(entry.view.queueId, *record->id)) {
             return self.checkCandidate(entry, std::move(candidates), index + 1);
           }
           entry.view.requestId = *record->id;
           entry.createSentAtMs.reset();
           self.markVerified(entry.view.queueId);
           self.advance(entry, State::created);
         });
  }

  // Reads the request once per process before attaching to it: the service
  // must still hold it, and the read makes the signed-in identity known.
  void verify(StoredEntry entry) {
    const auto requestId = entry.view.requestId.value_or("");
    read(entry, requestId, "verify",
         [entry, requestId](Impl& self, std::shared_ptr<EstimationRequest> record) {
           if (!record) {
             return self.fail(
                 entry, queue::queueError(CreationQueueErrorCode::requestGone,
                                          "The service no longer holds request " + requestId));
           }
           self.markVerified(entry.view.queueId);
           self.step(entry.view.queueId);
         });
  }

  void attach(StoredEntry entry, bool front) {
    if (!gateway()) return fail(entry, requests::notInitializedError());
    const auto identityId = context.identityId();
    if (identityId.empty()) {
      // Fresh credentials (after a refusal) bring the identity back: read the
      // request once more, which fetches them, before giving up.
      bool again;
      {
        std::lock_guard lock(mutex);
        again = identityRereads.insert(entry.view.queueId).second;
        if (again) verified.erase(entry.view.queueId);
      }
      if (again) return step(entry.view.queueId);
      return fail(entry, CorvenzaError(CorvenzaErrorReason::notSignedIn));
    }
    auto input = inputFor(
        entry, front ? creation::CreationStep::frontPhoto : creation::CreationStep::sidePhoto);
    input.identityId = identityId;
    // The stored photo is uploaded as it is; it stays until the entry ends.
    // Only the queue's own file goes out: a link put in its place is not followed.
    input.photo = front ? entry.frontFile : entry.sideFile;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(input.photo, ec))) {
      return fail(entry, queue::queueError(
                             CreationQueueErrorCode::invalidParameter,
                             std::string("The queued ") + (front ? "front" : "side") +
                                 " photo is not the queue's own file: " + input.photo.string()));
    }
    input.progress = uploadProgress(entry.view.queueId, front);
    send(entry, std::move(input), [entry, front](Impl& self, creation::StepOutcome) {
      self.advance(entry, front ? State::frontAttached : State::sideAttached);
    });
  }

  void readBack(StoredEntry entry) {
    if (!gateway()) return fail(entry, requests::notInitializedError());
    send(entry, inputFor(entry, creation::CreationStep::readBack),
         [entry](Impl& self, creation::StepOutcome) { self.advance(entry, State::done); });
  }

  // Tells the upload listener of entry @p id's photo, on the main queue.
  appsync::UploadProgress uploadProgress(const std::string& id, bool front) {
    std::weak_ptr<Impl> weak = shared_from_this();
    return [weak, id, front](const appsync::S3UploadDescription&, std::uint64_t sent,
                             std::uint64_t total) {
      auto self = weak.lock();
      if (!self) return;
      UploadListener listener;
      {
        std::lock_guard lock(self->mutex);
        self->bytesMoved[id] = sent;
        listener = self->uploadListener;
      }
      if (!listener) return;
      self->queue()->async(
          [listener, id, front, sent, total] { listener(id, front, sent, total); });
    };
  }
};

// --- the public face ---------------------------------------------------------

CreationQueue::CreationQueue(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}

CreationQueue::~CreationQueue() = default;

std::shared_ptr<CreationQueue> CreationQueue::open(std::shared_ptr<EstimationClient> client,
                                                   CreationQueueOptions options) {
  if (!client || options.directory.empty()) {
    throw CorvenzaException(queue::queueError(CreationQueueErrorCode::invalidParameter,
                                              "A creation queue needs a client and a folder"));
  }
  auto store = queue::QueueStore::open(options.directory);
  if (!store) throw CorvenzaException(store.error());
  auto loaded = (*store)->load();
  if (!loaded) throw CorvenzaException(loaded.error());
  (*store)->removeStrayPhotos(*loaded, std::chrono::minutes(10));

  auto impl = std::make_shared<Impl>(std::move(client));
  impl->options = std::move(options);
  impl->store = std::move(store.value());
  impl->entries = std::move(loaded.value());
  return std::shared_ptr<CreationQueue>(new CreationQueue(std::move(impl)));
}

std::string CreationQueue::enqueue(const EstimationParameter& parameter) {
  if (!parameter.frontImage || !parameter.sideImage) {
    throw CorvenzaException(queue::queueError(CreationQueueErrorCode::invalidParameter,
                                              "The estimation parameter needs both photos"));
  }
  // Both photos at once: the side on another thread, the front on this one.
  auto side = std::async(std::launch::async, [image = parameter.sideImage] {
    return image::prepareJpegForUpload(*image);
  });
  auto front = image::prepareJpegForUpload(*parameter.frontImage);
  auto sideJpeg = side.get();
  for (const auto* prepared : {&front, &sideJpeg}) {
    if (!*prepared) {
      throw CorvenzaException(queue::queueError(
          CreationQueueErrorCode::invalidParameter,
          "A photo cannot be prepared: " + prepared->error().localizedDescription()));
    }
  }
  const std::uint64_t bytes = front->size() + sideJpeg->size();
  {
    std::lock_guard lock(impl_->mutex);
    std::size_t unfinished = 0;
    std::uint64_t stored = 0;
    for (const auto& e : impl_->entries) {
      if (e.view.finished()) continue;
      ++unfinished;
      stored += e.bytes;
    }
    if (unfinished >= impl_->options.maxEntries) {
      throw CorvenzaException(queue::queueError(
          CreationQueueErrorCode::full,
          "The creation queue is full: " + std::to_string(unfinished) + " unfinished entries"));
    }
    if (stored + bytes > impl_->options.maxBytes) {
      throw CorvenzaException(
          queue::queueError(CreationQueueErrorCode::full,
                            "The creation queue is full: its photos would take more than " +
                                std::to_string(impl_->options.maxBytes) + " bytes"));
    }
  }
  QueuedCreation view;
  view.enqueuedAt = std::chrono::system_clock::now();
  view.heightInCm = parameter.heightInCm;
  view.weightInKg = parameter.weightInKg;
  view.age = parameter.age;
  view.gender = parameter.gender;
  view.failOnAutomaticEstimationFailure = parameter.failOnAutomaticEstimationFailure;
  auto stored = impl_->store->insert(std::move(view), *front, *sideJpeg);
  if (!stored) throw CorvenzaException(stored.error());
  const auto id = stored->view.queueId;
  bool running;
  {
    std::lock_guard lock(impl_->mutex);
    impl_->entries.push_back(*stored);
    running = impl_->running;
  }
  impl_->notify(stored->view);
  if (running) {
    std::weak_ptr<Impl> weak = impl_;
    impl_->queue()->async([weak] {
      if (auto self = weak.lock()) self->pump();
    });
  }
  return id;
}

std::vector<QueuedCreation> CreationQueue::entries() const {
  std::lock_guard lock(impl_->mutex);
  std::vector<QueuedCreation> out;
  for (const auto& e : impl_->entries) out.push_back(e.view);
  return out;
}

std::optional<QueuedCreation> CreationQueue::entry(const std::string& queueId) const {
  std::lock_guard lock(impl_->mutex);
  for (const auto& e : impl_->entries) {
    if (e.view.queueId == queueId) return e.view;
  }
  return std::nullopt;
}

bool CreationQueue::drop(const std::string& queueId) {
  bool runningHere;
  {
    std::lock_guard lock(impl_->mutex);
    runningHere = impl_->running;
  }
  // Another process may be sending this entry's photos right now.
  if (!runningHere) {
    if (auto lock = impl_->lockFolder(); !lock) throw CorvenzaException(lock.error());
  }
  std::optional<StoredEntry> entry;
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->active.count(queueId)) return false;
    auto it = std::find_if(impl_->entries.begin(), impl_->entries.end(),
                           [&](const StoredEntry& e) { return e.view.queueId == queueId; });
    if (it == impl_->entries.end()) return false;
    entry = *it;
    impl_->entries.erase(it);
  }
  if (auto removed = impl_->store->remove(*entry); !removed) {
    std::lock_guard lock(impl_->mutex);
    impl_->entries.push_back(*entry);
    throw CorvenzaException(removed.error());
  }
  return true;
}

void CreationQueue::run(CreationQueueRunLimits limits,
                        std::function<void(CreationQueueRunSummary)> done) {
  // Two threads starting runs at once start one.
  std::lock_guard starting(impl_->startMutex);
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->running) {
      impl_->waiters.push_back(std::move(done));
      return;
    }
  }
  auto lock = impl_->lockFolder();
  if (!lock) {
    CreationQueueRunSummary busy;
    if (lock.error().code() == static_cast<int>(CreationQueueErrorCode::runningElsewhere)) {
      busy.runningElsewhere = true;
    } else {
      busy.stopReason = lock.error();
    }
    for (const auto& e : entries()) {
      if (!e.finished()) ++busy.unfinished;
    }
    impl_->queue()->async([done = std::move(done), busy] {
      if (done) done(busy);
    });
    return;
  }
  impl_->reload();
  {
    std::lock_guard guard(impl_->mutex);
    impl_->runLock = std::move(lock.value());
    impl_->waiters.push_back(std::move(done));
    impl_->running = true;
    impl_->stopping = false;
    impl_->limits = limits;
    impl_->summary = {};
    impl_->givenUp.clear();
    impl_->inARow.clear();
    impl_->cutUploads.clear();
  }
  std::weak_ptr<Impl> weak = impl_;
  impl_->queue()->async([weak] {
    if (auto self = weak.lock()) self->pump();
  });
}

void CreationQueue::addListener(const std::string& name, Listener listener) {
  std::lock_guard lock(impl_->mutex);
  impl_->listeners[name] = std::move(listener);
}

void CreationQueue::removeListener(const std::string& name) {
  std::lock_guard lock(impl_->mutex);
  impl_->listeners.erase(name);
}

void CreationQueue::setUploadListener(UploadListener listener) {
  std::lock_guard lock(impl_->mutex);
  impl_->uploadListener = std::move(listener);
}

}  // namespace corvenza
