#pragma once
// The estimation requests, kept in SQLite in the emulator's data directory.
// Every owner-facing operation takes the caller's identity id: another
// identity's request behaves exactly as one that does not exist.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "core/result.h"
#include "estimation/estimation_record.h"

namespace corvenza::sqlite {
class Database;
}

namespace corvenza::emulator::estimation {

enum class ChangeKind { Create, Update, Delete };

/// Domain of the store's errors; code kInvalidNextToken marks a bad token.
inline constexpr const char* kEstimationStoreErrorDomain = "EmulatorEstimationStoreError";
inline constexpr int kInvalidNextToken = 1001;

struct CreateInput {
  int age = 0;
  double height = 0;
  double weight = 0;
  std::optional<std::string> gender;
  std::optional<bool> failOnAutomaticEstimationFailure;
};

/// What the estimator decided for a request.
struct EstimationOutcome {
  std::string status;
  std::optional<std::string> errorCode;
  /// Measurement and probability fields; empty when none were computed.
  nlohmann::json measurements = nlohmann::json::object();
  /// Image fields to set (thumbnails, annotated images).
  std::map<std::string, S3Location> images;
};

struct Page {
  std::vector<EstimationRecord> items;
  /// Present when more items follow.
  std::optional<std::string> nextToken;
};

/// One page of every identity's requests, for the emulator's operator.
struct OverviewPage {
  std::vector<EstimationRecord> items;
  /// How many requests the store holds in all.
  std::int64_t total = 0;
};

class EstimationStore {
 public:
  static constexpr int kDefaultLimit = 20;
  static constexpr int kMaxLimit = 100;

  /// Called after a change is stored, outside the store's lock, on the thread
  /// that made the change. @p record is the request's GraphQL form (for a
  /// deletion: as it was just before).
  using Listener = std::function<void(ChangeKind kind, const std::string& ownerIdentityId,
                                      const nlohmann::json& record)>;

  /// Opens (creating when needed) the database file @p file.
  static detail::Result<std::unique_ptr<EstimationStore>> open(const std::filesystem::path& file);
  ~EstimationStore();
  EstimationStore(const EstimationStore&) = delete;
  EstimationStore& operator=(const EstimationStore&) = delete;

  /// Adds @p listener; returns a handle for removeListener(). Thread-safe.
  int addListener(Listener listener);
  void removeListener(int handle);

  /// A new request owned by @p owner, status "requested", created at @p now
  /// (seconds since the epoch).
  detail::Result<EstimationRecord> create(const std::string& owner, const CreateInput& input,
                                          std::int64_t now);

  /// The request @p id when @p owner owns it.
  detail::Result<std::optional<EstimationRecord>> get(const std::string& owner,
                                                      const std::string& id);

  /// @p owner's requests ordered by creation time, then id, after the
  /// position @p nextToken names, at most @p limit (default 20, at most 100)
  /// of those @p filter accepts (all when no filter). A token that was not
  /// issued for @p owner by this store fails with kInvalidNextToken.
  detail::Result<Page> list(const std::string& owner, std::optional<int> limit,
                            const std::optional<std::string>& nextToken,
                            const std::function<bool(const EstimationRecord&)>& filter = {});

  /// Applies the keys of @p changes ("age", "height", "weight", "gender",
  /// "failOnAutomaticEstimationFailure"): a present key changes the field, a
  /// null clears a nullable one. Nothing when @p owner has no request @p id.
  detail::Result<std::optional<EstimationRecord>> update(const std::string& owner,
                                                         const std::string& id,
                                                         const nlohmann::json& changes);

  /// Deletes and returns the request. Nothing when @p owner has no request @p id.
  detail::Result<std::optional<EstimationRecord>> remove(const std::string& owner,
                                                         const std::string& id);

  /// Records the front or side photo's location. Once both are attached a
  /// "requested" request moves to "pendingAutomaticEstimation".
  detail::Result<std::optional<EstimationRecord>> attachImage(const std::string& owner,
                                                              const std::string& id, bool front,
                                                              const S3Location& location);

  /// The request @p id whoever owns it: for the estimator and the dashboard only.
  detail::Result<std::optional<EstimationRecord>> find(const std::string& id);

  /// Every identity's requests, newest first (by creation time, then id),
  /// skipping @p offset and taking at most @p limit: for the dashboard only.
  detail::Result<OverviewPage> listAll(std::int64_t offset, int limit);

  /// Ids of every request waiting for automatic estimation, oldest first.
  detail::Result<std::vector<std::string>> pendingAutomatic();

  /// Stores @p outcome when the request is still "pendingAutomaticEstimation";
  /// nothing when it is gone or has moved on.
  detail::Result<std::optional<EstimationRecord>> finishAutomatic(const std::string& id,
                                                                  const EstimationOutcome& outcome);

  /// As finishAutomatic(), and also for a request waiting in
  /// "pendingManualEstimation": an operator's decision.
  detail::Result<std::optional<EstimationRecord>> finishPending(const std::string& id,
                                                                const EstimationOutcome& outcome);

 private:
  EstimationStore(std::unique_ptr<sqlite::Database> database, std::string tokenKey);
  detail::Result<std::optional<EstimationRecord>> load(const std::string& id);
  detail::Status save(const EstimationRecord& record, bool insert);
  std::string makeToken(const std::string& owner, const EstimationRecord& last) const;
  void notify(ChangeKind kind, const EstimationRecord& record);
  detail::Result<std::optional<EstimationRecord>> finish(const std::string& id,
                                                         const EstimationOutcome& outcome,
                                                         bool manualToo);

  std::mutex mutex_;
  std::unique_ptr<sqlite::Database> database_;
  const std::string tokenKey_;
  std::mutex listenersMutex_;
  std::map<int, std::shared_ptr<const Listener>> listeners_;
  int nextListener_ = 1;
};

}  // namespace corvenza::emulator::estimation
