#pragma once
// A small RAII wrapper over one SQLite connection: open, run statements, read
// text columns. Not thread-safe on its own; callers serialise access.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/result.h"

struct sqlite3;

namespace corvenza::appsync {

/// Domain of cache database failures; the code is SQLite's result code.
inline constexpr const char* kCacheDatabaseErrorDomain = "CorvenzaCacheDatabaseError";

class SqliteDatabase {
 public:
  /// Opens (creating it if needed, readable by its owner only) the database
  /// file at @p path.
  static detail::Result<std::unique_ptr<SqliteDatabase>> openFile(
      const std::filesystem::path& path);
  /// A private database that lives in memory only.
  static detail::Result<std::unique_ptr<SqliteDatabase>> openInMemory();

  ~SqliteDatabase();
  SqliteDatabase(const SqliteDatabase&) = delete;
  SqliteDatabase& operator=(const SqliteDatabase&) = delete;

  /// Runs @p sql, which may hold several statements and takes no parameters.
  detail::Status execute(const std::string& sql);
  /// Runs one statement with @p parameters bound as text, in order.
  detail::Status run(const std::string& sql, const std::vector<std::string>& parameters);
  /// Runs one query with text parameters; returns the first column of the
  /// first row, or nothing when there is no row.
  detail::Result<std::optional<std::string>> queryText(const std::string& sql,
                                                       const std::vector<std::string>& parameters);

 private:
  explicit SqliteDatabase(sqlite3* handle);
  static detail::Result<std::unique_ptr<SqliteDatabase>> openWith(const std::string& name,
                                                                  int flags);
  Error lastError(int code, const char* what) const;

  sqlite3* handle_;
};

}  // namespace corvenza::appsync
