#pragma once
// The identity pool's identities: one stable identity id per user id, a new
// one for each anonymous request. Kept in SQLite under the data directory so
// that identities survive a restart of the emulator.

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "core/result.h"

namespace corvenza::sqlite {
class Database;
}

namespace corvenza::emulator {

class IdentityStore {
 public:
  /// Opens (creating when needed) the database file @p file.
  static detail::Result<std::unique_ptr<IdentityStore>> open(const std::filesystem::path& file,
                                                             std::string region);
  ~IdentityStore();
  IdentityStore(const IdentityStore&) = delete;
  IdentityStore& operator=(const IdentityStore&) = delete;

  /// The identity id of @p userId, made on first use; a fresh one when
  /// @p userId is absent. Identity ids look like "<region>:<uuid>". Thread-safe.
  detail::Result<std::string> identityFor(const std::optional<std::string>& userId);

  /// True when @p identityId was handed out by this store. Thread-safe.
  bool exists(const std::string& identityId);

 private:
  IdentityStore(std::unique_ptr<sqlite::Database> database, std::string region);

  std::mutex mutex_;
  std::unique_ptr<sqlite::Database> database_;
  std::string region_;
};

}  // namespace corvenza::emulator
