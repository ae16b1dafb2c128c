#include "identity_store.h"

#include <sqlite3.h>

#include <utility>

#include "encoding.h"

namespace corvenza::emulator {
namespace {

constexpr const char* kStoreErrorDomain = "EmulatorStoreError";

Error storeError(sqlite3* db, const char* what) {
  return Error(kStoreErrorDomain, db ? sqlite3_errcode(db) : SQLITE_ERROR, std::nullopt,
               std::string(what) + ": " + (db ? sqlite3_errmsg(db) : "no database"));
}

// Owns one prepared statement.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  sqlite3_stmt* get() const { return stmt_; }
  explicit operator bool() const { return stmt_ != nullptr; }
  void bind(int index, const std::string& text) {
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace

detail::Result<std::unique_ptr<IdentityStore>> IdentityStore::open(
    const std::filesystem::path& file, std::string region) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                      nullptr) != SQLITE_OK) {
    auto error = storeError(db, "cannot open the identity database");
    sqlite3_close(db);
    return error;
  }
  const char* schema =
      "CREATE TABLE IF NOT EXISTS identities ("
      " identity_id TEXT PRIMARY KEY,"
      " user_id TEXT UNIQUE,"
      " created_at INTEGER NOT NULL DEFAULT (strftime('%s','now')))";
  if (sqlite3_exec(db, schema, nullptr, nullptr, nullptr) != SQLITE_OK) {
    auto error = storeError(db, "cannot create the identity table");
    sqlite3_close(db);
    return error;
  }
  return std::unique_ptr<IdentityStore>(new IdentityStore(db, std::move(region)));
}

IdentityStore::IdentityStore(sqlite3* db, std::string region)
    : db_(db), region_(std::move(region)) {}

IdentityStore::~IdentityStore() { sqlite3_close(db_); }

detail::Result<std::string> IdentityStore::identityFor(const std::optional<std::string>& userId) {
  std::lock_guard lock(mutex_);
  if (userId) {
    Statement select(db_, "SELECT identity_id FROM identities WHERE user_id = ?1");
    if (!select) return storeError(db_, "cannot look up an identity");
    select.bind(1, *userId);
    if (sqlite3_step(select.get()) == SQLITE_ROW) {
      return std::string(reinterpret_cast<const char*>(sqlite3_column_text(select.get(), 0)));
    }
  }
  auto identityId = region_ + ":" + randomUuid();
  Statement insert(db_, "INSERT INTO identities (identity_id, user_id) VALUES (?1, ?2)");
  if (!insert) return storeError(db_, "cannot record an identity");
  insert.bind(1, identityId);
  if (userId) {
    insert.bind(2, *userId);
  } else {
    sqlite3_bind_null(insert.get(), 2);
  }
  if (sqlite3_step(insert.get()) != SQLITE_DONE)
    return storeError(db_, "cannot record an identity");
  return identityId;
}

bool IdentityStore::exists(const std::string& identityId) {
  std::lock_guard lock(mutex_);
  Statement select(db_, "SELECT 1 FROM identities WHERE identity_id = ?1");
  if (!select) return false;
  select.bind(1, identityId);
  return sqlite3_step(select.get()) == SQLITE_ROW;
}

}  // namespace corvenza::emulator
