#pragma once
// The one SQLite wrapper of the project: a connection that owns its handle,
// and prepared statements with typed parameters and columns. The offline
// cache and the emulator's stores use it. A connection opened `serialized`
// may be shared by threads; otherwise callers serialise access.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"

struct sqlite3;
struct sqlite3_stmt;

namespace corvenza::sqlite {

class Statement;

class Database {
 public:
  struct Options {
    /// Domain of the errors this database reports; their code is SQLite's.
    std::string errorDomain;
    /// Put before each error's description, such as "Offline cache database".
    std::string errorPrefix;
    /// Create the file readable by its owner only, and refuse a link or a
    /// file of another user at the path.
    bool privateFile = false;
    /// Let several threads share the connection (SQLite's serialized mode).
    bool serialized = false;
  };

  /// Opens, creating it if needed, the database file at @p path.
  static detail::Result<std::unique_ptr<Database>> openFile(const std::filesystem::path& path,
                                                            Options options);
  /// A private database that lives in memory only.
  static detail::Result<std::unique_ptr<Database>> openInMemory(Options options);

  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  /// Runs @p sql, which may hold several statements and takes no parameters.
  detail::Status execute(const std::string& sql);
  /// Runs one statement with @p parameters bound as text, in order.
  detail::Status run(const std::string& sql, const std::vector<std::string>& parameters);
  /// Runs one query with text parameters; returns the first column of the
  /// first row, or nothing when there is no row.
  detail::Result<std::optional<std::string>> queryText(const std::string& sql,
                                                       const std::vector<std::string>& parameters);

  /// The error of the latest failed call on this connection, described as @p what.
  Error lastError(std::string_view what) const;
  /// The operating system's error (errno) behind the latest failed call, or 0.
  int systemErrno() const;
  /// Keeps the write-ahead log and its index when the connection closes, so
  /// that a later opening need not create them (it could not on a full disk).
  void keepJournalFiles();

 private:
  friend class Statement;
  Database(sqlite3* handle, Options options);
  static detail::Result<std::unique_ptr<Database>> openWith(const std::string& name, int flags,
                                                            Options options);
  static Error describe(const Options& options, int code, std::string_view what,
                        const char* detail);

  sqlite3* handle_;
  Options options_;
};

/// One prepared statement. A statement that failed to prepare is false and
/// every step of it fails.
class Statement {
 public:
  Statement(Database& database, std::string_view sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  explicit operator bool() const { return statement_ != nullptr; }

  /// Parameters count from 1, as in the SQL text (?1, ?2, ...).
  void bind(int index, std::string_view text);
  void bind(int index, const std::string& text) { bind(index, std::string_view(text)); }
  void bind(int index, const std::optional<std::string>& text);  ///< null when absent
  void bind(int index, std::int64_t value);
  void bind(int index, double value);
  void bindNull(int index);

  enum class Step { row, done, failed };
  Step step();

  /// Columns count from 0. A null column reads as "" or 0.
  std::string text(int column) const;
  std::optional<std::string> optionalText(int column) const;
  std::int64_t integer(int column) const;
  double real(int column) const;
  bool isNull(int column) const;

 private:
  sqlite3_stmt* statement_ = nullptr;
};

}  // namespace corvenza::sqlite
