#include "platform/appsync/sqlite_database.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace corvenza::appsync {
namespace {

struct StatementDeleter {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

Error databaseError(int code, const std::string& what, const char* detail) {
  std::string description = "Offline cache database: " + what;
  if (detail && *detail) description += std::string(": ") + detail;
  return Error(kCacheDatabaseErrorDomain, code, std::nullopt, std::move(description));
}

}  // namespace

SqliteDatabase::SqliteDatabase(sqlite3* handle) : handle_(handle) {}

SqliteDatabase::~SqliteDatabase() { sqlite3_close_v2(handle_); }

detail::Result<std::unique_ptr<SqliteDatabase>> SqliteDatabase::openFile(
    const std::filesystem::path& path) {
  // Create the file ourselves so that it is never readable by others, even
  // for a moment; SQLite gives its journal files the same mode. A link or a
  // file someone else planted there is refused: whatever we cached would be
  // theirs to read.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    return databaseError(SQLITE_CANTOPEN,
                         errno == ELOOP ? "refusing a symbolic link at " + path.string()
                                        : "cannot open " + path.string(),
                         nullptr);
  }
  struct stat info {};
  const bool ours = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid();
  const bool privateMode = ours && ::fchmod(fd, 0600) == 0;
  ::close(fd);
  if (!privateMode) {
    return databaseError(SQLITE_CANTOPEN,
                         "refusing " + path.string() + ": not a private file of this user",
                         nullptr);
  }
  auto opened = openWith(path.string(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  if (!opened) return opened;
  // A file that is not a database only shows itself on first use.
  if (auto checked = (*opened)->queryText("PRAGMA schema_version", {}); !checked) {
    return checked.error();
  }
  return opened;
}

detail::Result<std::unique_ptr<SqliteDatabase>> SqliteDatabase::openInMemory() {
  return openWith(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_MEMORY);
}

detail::Result<std::unique_ptr<SqliteDatabase>> SqliteDatabase::openWith(const std::string& name,
                                                                         int flags) {
  sqlite3* handle = nullptr;
  const int code = sqlite3_open_v2(name.c_str(), &handle, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  if (code != SQLITE_OK) {
    Error error =
        databaseError(code, "cannot open " + name, handle ? sqlite3_errmsg(handle) : nullptr);
    sqlite3_close_v2(handle);
    return error;
  }
  sqlite3_busy_timeout(handle, 2000);
  return std::unique_ptr<SqliteDatabase>(new SqliteDatabase(handle));
}

Error SqliteDatabase::lastError(int code, const char* what) const {
  return databaseError(code, what, sqlite3_errmsg(handle_));
}

detail::Status SqliteDatabase::execute(const std::string& sql) {
  char* message = nullptr;
  const int code = sqlite3_exec(handle_, sql.c_str(), nullptr, nullptr, &message);
  if (code != SQLITE_OK) {
    Error error = databaseError(code, "statement failed", message);
    sqlite3_free(message);
    return error;
  }
  return detail::okStatus();
}

namespace {

detail::Result<Statement> prepare(sqlite3* handle, const std::string& sql,
                                  const std::vector<std::string>& parameters) {
  sqlite3_stmt* raw = nullptr;
  int code = sqlite3_prepare_v2(handle, sql.c_str(), static_cast<int>(sql.size()), &raw, nullptr);
  Statement statement(raw);
  if (code != SQLITE_OK) return databaseError(code, "cannot prepare", sqlite3_errmsg(handle));
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    code = sqlite3_bind_text(statement.get(), static_cast<int>(i + 1), parameters[i].data(),
                             static_cast<int>(parameters[i].size()), SQLITE_TRANSIENT);
    if (code != SQLITE_OK) return databaseError(code, "cannot bind", sqlite3_errmsg(handle));
  }
  return statement;
}

}  // namespace

detail::Status SqliteDatabase::run(const std::string& sql,
                                   const std::vector<std::string>& parameters) {
  auto statement = prepare(handle_, sql, parameters);
  if (!statement) return statement.error();
  const int code = sqlite3_step(statement->get());
  if (code != SQLITE_DONE && code != SQLITE_ROW) return lastError(code, "statement failed");
  return detail::okStatus();
}

detail::Result<std::optional<std::string>> SqliteDatabase::queryText(
    const std::string& sql, const std::vector<std::string>& parameters) {
  auto statement = prepare(handle_, sql, parameters);
  if (!statement) return statement.error();
  const int code = sqlite3_step(statement->get());
  if (code == SQLITE_DONE) return std::optional<std::string>{};
  if (code != SQLITE_ROW) return lastError(code, "query failed");
  const auto* text = sqlite3_column_text(statement->get(), 0);
  const int size = sqlite3_column_bytes(statement->get(), 0);
  if (!text) return std::optional<std::string>{std::string{}};
  return std::optional<std::string>{std::string(reinterpret_cast<const char*>(text), size)};
}

}  // namespace corvenza::appsync
