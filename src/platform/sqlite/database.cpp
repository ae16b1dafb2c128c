#include "platform/sqlite/database.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace corvenza::sqlite {

Database::Database(sqlite3* handle, Options options)
    : handle_(handle), options_(std::move(options)) {}

Database::~Database() { sqlite3_close_v2(handle_); }

Error Database::describe(const Options& options, int code, std::string_view what,
                         const char* detail) {
  std::string description;
  if (!options.errorPrefix.empty()) description = options.errorPrefix + ": ";
  description += what;
  if (detail && *detail) description += std::string(": ") + detail;
  return Error(options.errorDomain, code, std::nullopt, std::move(description));
}

Error Database::lastError(std::string_view what) const {
  return describe(options_, sqlite3_errcode(handle_), what, sqlite3_errmsg(handle_));
}

int Database::systemErrno() const { return sqlite3_system_errno(handle_); }

void Database::keepJournalFiles() {
  int keep = 1;
  sqlite3_file_control(handle_, "main", SQLITE_FCNTL_PERSIST_WAL, &keep);
}

detail::Result<std::unique_ptr<Database>> Database::openFile(const std::filesystem::path& path,
                                                             Options options) {
  if (options.privateFile) {
    // Create the file ourselves so that it is never readable by others, even
    // for a moment; SQLite gives its journal files the same mode. A link or a
    // file someone else planted there is refused: whatever we stored would be
    // theirs to read.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      return describe(options, SQLITE_CANTOPEN,
                      errno == ELOOP ? "refusing a symbolic link at " + path.string()
                                     : "cannot open " + path.string(),
                      nullptr);
    }
    struct stat info {};
    const bool ours =
        ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid();
    const bool privateMode = ours && ::fchmod(fd, 0600) == 0;
    ::close(fd);
    if (!privateMode) {
      return describe(options, SQLITE_CANTOPEN,
                      "refusing " + path.string() + ": not a private file of this user", nullptr);
    }
  }
  auto opened =
      openWith(path.string(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, std::move(options));
  if (!opened) return opened;
  // A file that is not a database only shows itself on first use.
  if (auto checked = (*opened)->queryText("PRAGMA schema_version", {}); !checked) {
    return checked.error();
  }
  return opened;
}

detail::Result<std::unique_ptr<Database>> Database::openInMemory(Options options) {
  return openWith(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_MEMORY,
                  std::move(options));
}

detail::Result<std::unique_ptr<Database>> Database::openWith(const std::string& name, int flags,
                                                             Options options) {
  flags |= options.serialized ? SQLITE_OPEN_FULLMUTEX : SQLITE_OPEN_NOMUTEX;
  sqlite3* handle = nullptr;
  const int code = sqlite3_open_v2(name.c_str(), &handle, flags, nullptr);
  if (code != SQLITE_OK) {
    Error failure =
        describe(options, code, "cannot open " + name, handle ? sqlite3_errmsg(handle) : nullptr);
    sqlite3_close_v2(handle);
    return failure;
  }
  sqlite3_busy_timeout(handle, 2000);
  return std::unique_ptr<Database>(new Database(handle, std::move(options)));
}

detail::Status Database::execute(const std::string& sql) {
  char* message = nullptr;
  const int code = sqlite3_exec(handle_, sql.c_str(), nullptr, nullptr, &message);
  if (code != SQLITE_OK) {
    Error failure = describe(options_, code, "statement failed", message);
    sqlite3_free(message);
    return failure;
  }
  return detail::okStatus();
}

namespace {

// Prepares @p sql and binds @p parameters as text; empty on failure, with the
// connection's error describing it.
bool prepareWithText(Statement& statement, const std::vector<std::string>& parameters) {
  if (!statement) return false;
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    statement.bind(static_cast<int>(i + 1), std::string_view(parameters[i]));
  }
  return true;
}

}  // namespace

detail::Status Database::run(const std::string& sql, const std::vector<std::string>& parameters) {
  Statement statement(*this, sql);
  if (!prepareWithText(statement, parameters)) return lastError("cannot prepare");
  if (statement.step() == Statement::Step::failed) return lastError("statement failed");
  return detail::okStatus();
}

detail::Result<std::optional<std::string>> Database::queryText(
    const std::string& sql, const std::vector<std::string>& parameters) {
  Statement statement(*this, sql);
  if (!prepareWithText(statement, parameters)) return lastError("cannot prepare");
  switch (statement.step()) {
    case Statement::Step::done:
      return std::optional<std::string>{};
    case Statement::Step::row:
      return std::optional<std::string>{statement.text(0)};
    case Statement::Step::failed:
      break;
  }
  return lastError("query failed");
}

Statement::Statement(Database& database, std::string_view sql) {
  if (sqlite3_prepare_v2(database.handle_, sql.data(), static_cast<int>(sql.size()), &statement_,
                         nullptr) != SQLITE_OK) {
    sqlite3_finalize(statement_);
    statement_ = nullptr;
  }
}

Statement::~Statement() { sqlite3_finalize(statement_); }

void Statement::bind(int index, std::string_view text) {
  sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()),
                    SQLITE_TRANSIENT);
}

void Statement::bind(int index, const std::optional<std::string>& text) {
  if (text) {
    bind(index, std::string_view(*text));
  } else {
    bindNull(index);
  }
}

void Statement::bind(int index, std::int64_t value) {
  sqlite3_bind_int64(statement_, index, value);
}

void Statement::bind(int index, double value) { sqlite3_bind_double(statement_, index, value); }

void Statement::bindNull(int index) { sqlite3_bind_null(statement_, index); }

Statement::Step Statement::step() {
  if (!statement_) return Step::failed;
  switch (sqlite3_step(statement_)) {
    case SQLITE_ROW:
      return Step::row;
    case SQLITE_DONE:
      return Step::done;
    default:
      return Step::failed;
  }
}

std::string Statement::text(int column) const {
  const auto* text = sqlite3_column_text(statement_, column);
  const int size = sqlite3_column_bytes(statement_, column);
  if (!text) return {};
  return std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(size));
}

std::optional<std::string> Statement::optionalText(int column) const {
  if (isNull(column)) return std::nullopt;
  return text(column);
}

std::int64_t Statement::integer(int column) const {
  return sqlite3_column_int64(statement_, column);
}

double Statement::real(int column) const { return sqlite3_column_double(statement_, column); }

bool Statement::isNull(int column) const {
  return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

}  // namespace corvenza::sqlite
