#include "context/identity_store.h"

#include <utility>

#include "base/random.h"
#include "platform/sqlite/database.h"

namespace corvenza::emulator {

using sqlite::Statement;

detail::Result<std::unique_ptr<IdentityStore>> IdentityStore::open(
    const std::filesystem::path& file, std::string region) {
  sqlite::Database::Options options;
  options.errorDomain = "EmulatorStoreError";
  options.errorPrefix = "identity database";
  options.serialized = true;
  options.privateFile = true;
  auto database = sqlite::Database::openFile(file, std::move(options));
  if (!database) return database.error();
  if (auto made =
          (*database)->execute("CREATE TABLE IF NOT EXISTS identities ("
                               " identity_id TEXT PRIMARY KEY,"
                               " user_id TEXT UNIQUE,"
                               " created_at INTEGER NOT NULL DEFAULT (strftime('%s','now')))");
      !made) {
    return made.error();
  }
  return std::unique_ptr<IdentityStore>(
      new IdentityStore(std::move(database).value(), std::move(region)));
}

IdentityStore::IdentityStore(std::unique_ptr<sqlite::Database> database, std::string region)
    : database_(std::move(database)), region_(std::move(region)) {}

IdentityStore::~IdentityStore() = default;

detail::Result<std::string> IdentityStore::identityFor(const std::optional<std::string>& userId) {
  std::lock_guard lock(mutex_);
  if (userId) {
    Statement select(*database_, "SELECT identity_id FROM identities WHERE user_id = ?1");
    select.bind(1, std::string_view(*userId));
    switch (select.step()) {
      case Statement::Step::row:
        return select.text(0);
      case Statement::Step::failed:
        return database_->lastError("cannot look up an identity");
      case Statement::Step::done:
        break;
    }
  }
  auto identityId = region_ + ":" + randomUuid();
  Statement insert(*database_, "INSERT INTO identities (identity_id, user_id) VALUES (?1, ?2)");
  insert.bind(1, std::string_view(identityId));
  insert.bind(2, userId);
  if (insert.step() != Statement::Step::done) {
    return database_->lastError("cannot record an identity");
  }
  return identityId;
}

bool IdentityStore::exists(const std::string& identityId) {
  std::lock_guard lock(mutex_);
  Statement select(*database_, "SELECT 1 FROM identities WHERE identity_id = ?1");
  select.bind(1, std::string_view(identityId));
  return select.step() == Statement::Step::row;
}

}  // namespace corvenza::emulator
