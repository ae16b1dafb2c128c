#pragma once
// The offline cache: response objects stored once each under their cache key,
// query roots pointing at them, so that a later mutation's answer updates what
// an earlier query shows when it is read back offline.

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "core/result.h"
#include "platform/appsync/graphql_request.h"

namespace corvenza::sqlite {
class Database;
}

namespace corvenza::appsync {

/// Domain of cache database failures; the code is SQLite's result code.
inline constexpr const char* kCacheDatabaseErrorDomain = "CorvenzaCacheDatabaseError";

/// The key an object is stored under, or nothing to keep it inside its parent.
using CacheKeyFunction = std::function<std::optional<std::string>(const nlohmann::json& object)>;

/// Thread-safe; every operation holds one mutex for its whole run, and no
/// exception leaves it. Records live in the table records(key, json).
///
/// The records belong to one owner (the signed-in identity), kept in the
/// table owner: a read for another owner finds nothing, and a write for
/// another owner first empties the cache, so one user's records never reach
/// another. An empty owner is unknown: it reads and writes nothing.
class NormalizedCache {
 public:
  /// Opens or creates the database file at @p path (mode 0600).
  static detail::Result<std::unique_ptr<NormalizedCache>> open(const std::filesystem::path& path,
                                                               CacheKeyFunction cacheKey);
  /// A cache that lives in memory only and is lost with the object.
  static detail::Result<std::unique_ptr<NormalizedCache>> inMemory(CacheKeyFunction cacheKey);

  /// The key under which the root of @p request's answer is stored: a digest
  /// of the document, the canonical variables and the operation name.
  static std::string rootKey(const GraphQLRequest& request);

  ~NormalizedCache();

  /// Stores the "data" of a query answer for @p owner under @p rootKey,
  /// replacing what was there; every keyed object inside is merged into its
  /// record.
  detail::Status writeQueryData(const std::string& owner, const std::string& rootKey,
                                const nlohmann::json& data);
  /// Merges every keyed object inside a mutation's "data" into its record.
  detail::Status mergeObjects(const std::string& owner, const nlohmann::json& data);
  /// Rebuilds the data stored under @p rootKey from the current records;
  /// nothing when the root or any record it points at is missing, or the
  /// records are not @p owner's.
  detail::Result<std::optional<nlohmann::json>> readQueryData(const std::string& owner,
                                                              const std::string& rootKey);
  /// Removes every record and forgets the owner.
  detail::Status clear();

 private:
  NormalizedCache(std::unique_ptr<sqlite::Database> database, CacheKeyFunction cacheKey);
  detail::Status prepareSchema();
  detail::Status store(const std::string& owner, const std::optional<std::string>& rootKey,
                       const nlohmann::json& data);
  /// Whose records the database holds; empty when nobody's. Caller holds mutex_.
  detail::Result<std::string> storedOwner();

  std::mutex mutex_;
  std::unique_ptr<sqlite::Database> database_;
  CacheKeyFunction cacheKey_;
};

}  // namespace corvenza::appsync
