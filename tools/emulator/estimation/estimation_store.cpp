#include "estimation/estimation_store.h"

#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <limits>

#include "encoding.h"

namespace corvenza::emulator::estimation {
namespace {

Error storeError(sqlite3* db, const std::string& what) {
  return Error(kEstimationStoreErrorDomain, db ? sqlite3_errcode(db) : SQLITE_ERROR, std::nullopt,
               what + ": " + (db ? sqlite3_errmsg(db) : "no database"));
}

Error invalidToken() {
  return Error(kEstimationStoreErrorDomain, kInvalidNextToken, std::nullopt,
               "Invalid nextToken provided.");
}

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
  void bind(int index, const std::optional<std::string>& text) {
    if (text) {
      bind(index, *text);
    } else {
      sqlite3_bind_null(stmt_, index);
    }
  }
  void bind(int index, std::int64_t value) { sqlite3_bind_int64(stmt_, index, value); }
  void bind(int index, double value) { sqlite3_bind_double(stmt_, index, value); }
  std::string text(int column) const {
    const auto* p = sqlite3_column_text(stmt_, column);
    return p ? reinterpret_cast<const char*>(p) : "";
  }
  std::optional<std::string> optionalText(int column) const {
    if (sqlite3_column_type(stmt_, column) == SQLITE_NULL) return std::nullopt;
    return text(column);
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

constexpr const char* kColumns =
    "id, user_id, created_at, status, gender, age, height, weight, fail_on_failure, error_code,"
    " images, measurements";

EstimationRecord readRow(const Statement& row) {
  auto* stmt = row.get();
  EstimationRecord record;
  record.id = row.text(0);
  record.userId = row.text(1);
  record.createdAt = sqlite3_column_int64(stmt, 2);
  record.status = row.text(3);
  record.gender = row.optionalText(4);
  record.age = sqlite3_column_int(stmt, 5);
  record.height = sqlite3_column_double(stmt, 6);
  record.weight = sqlite3_column_double(stmt, 7);
  if (sqlite3_column_type(stmt, 8) != SQLITE_NULL) {
    record.failOnAutomaticEstimationFailure = sqlite3_column_int(stmt, 8) != 0;
  }
  record.errorCode = row.optionalText(9);
  const auto images = nlohmann::json::parse(row.text(10), nullptr, false);
  if (images.is_object()) {
    for (const auto& [field, value] : images.items()) {
      if (auto location = s3LocationFromJson(value)) record.images[field] = *location;
    }
  }
  auto measurements = nlohmann::json::parse(row.text(11), nullptr, false);
  if (measurements.is_object()) record.measurements = std::move(measurements);
  return record;
}

// The token names a position (createdAt, id) and carries a MAC over it and
// the owner, so a token cannot be forged, altered or used by someone else.
constexpr std::size_t kTokenMacBytes = 16;

std::string tokenPayload(const EstimationRecord& last) {
  return std::to_string(last.createdAt) + "/" + last.id;
}

}  // namespace

detail::Result<std::unique_ptr<EstimationStore>> EstimationStore::open(
    const std::filesystem::path& file) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                      nullptr) != SQLITE_OK) {
    auto error = storeError(db, "cannot open the estimation database");
    sqlite3_close(db);
    return error;
  }
  const char* schema =
      "CREATE TABLE IF NOT EXISTS estimations ("
      " id TEXT PRIMARY KEY, user_id TEXT NOT NULL, created_at INTEGER NOT NULL,"
      " status TEXT NOT NULL, gender TEXT, age INTEGER NOT NULL, height REAL NOT NULL,"
      " weight REAL NOT NULL, fail_on_failure INTEGER, error_code TEXT,"
      " images TEXT NOT NULL DEFAULT '{}', measurements TEXT NOT NULL DEFAULT '{}');"
      "CREATE INDEX IF NOT EXISTS estimations_by_owner ON estimations(user_id, created_at, id);"
      "CREATE TABLE IF NOT EXISTS settings (name TEXT PRIMARY KEY, value TEXT NOT NULL);";
  if (sqlite3_exec(db, schema, nullptr, nullptr, nullptr) != SQLITE_OK) {
    auto error = storeError(db, "cannot create the estimation tables");
    sqlite3_close(db);
    return error;
  }
  // The token key persists so that page tokens stay valid across restarts.
  std::string key;
  {
    Statement select(db, "SELECT value FROM settings WHERE name = 'page_token_key'");
    if (select && sqlite3_step(select.get()) == SQLITE_ROW) key = select.text(0);
  }
  if (key.empty()) {
    key = base64UrlEncode(randomBytes(32));
    Statement insert(db, "INSERT INTO settings (name, value) VALUES ('page_token_key', ?1)");
    insert.bind(1, key);
    if (!insert || sqlite3_step(insert.get()) != SQLITE_DONE) {
      auto error = storeError(db, "cannot store the page token key");
      sqlite3_close(db);
      return error;
    }
  }
  return std::unique_ptr<EstimationStore>(new EstimationStore(db, std::move(key)));
}

EstimationStore::EstimationStore(sqlite3* db, std::string tokenKey)
    : db_(db), tokenKey_(std::move(tokenKey)) {}

EstimationStore::~EstimationStore() { sqlite3_close(db_); }

int EstimationStore::addListener(Listener listener) {
  std::lock_guard lock(listenersMutex_);
  const int handle = nextListener_++;
  listeners_[handle] = std::make_shared<const Listener>(std::move(listener));
  return handle;
}

void EstimationStore::removeListener(int handle) {
  std::lock_guard lock(listenersMutex_);
  listeners_.erase(handle);
}

void EstimationStore::notify(ChangeKind kind, const EstimationRecord& record) {
  std::vector<std::shared_ptr<const Listener>> listeners;
  {
    std::lock_guard lock(listenersMutex_);
    for (const auto& [handle, listener] : listeners_) listeners.push_back(listener);
  }
  if (listeners.empty()) return;
  const auto json = toGraphQL(record);
  for (const auto& listener : listeners) (*listener)(kind, record.userId, json);
}

detail::Result<std::optional<EstimationRecord>> EstimationStore::load(const std::string& id) {
  const auto sql = std::string("SELECT ") + kColumns + " FROM estimations WHERE id = ?1";
  Statement select(db_, sql.c_str());
  if (!select) return storeError(db_, "cannot read a request");
  select.bind(1, id);
  const int step = sqlite3_step(select.get());
  if (step == SQLITE_ROW) return std::optional<EstimationRecord>(readRow(select));
  if (step == SQLITE_DONE) return std::optional<EstimationRecord>();
  return storeError(db_, "cannot read a request");
}

detail::Status EstimationStore::save(const EstimationRecord& record, bool insert) {
  const char* sql =
      insert ? "INSERT INTO estimations (id, user_id, created_at, status, gender, age, height,"
               " weight, fail_on_failure, error_code, images, measurements)"
               " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)"
             : "UPDATE estimations SET user_id = ?2, created_at = ?3, status = ?4, gender = ?5,"
               " age = ?6, height = ?7, weight = ?8, fail_on_failure = ?9, error_code = ?10,"
               " images = ?11, measurements = ?12 WHERE id = ?1";
  Statement statement(db_, sql);
  if (!statement) return storeError(db_, "cannot store a request");
  nlohmann::json images = nlohmann::json::object();
  for (const auto& [field, location] : record.images) images[field] = toJson(location);
  statement.bind(1, record.id);
  statement.bind(2, record.userId);
  statement.bind(3, record.createdAt);
  statement.bind(4, record.status);
  statement.bind(5, record.gender);
  statement.bind(6, static_cast<std::int64_t>(record.age));
  statement.bind(7, record.height);
  statement.bind(8, record.weight);
  if (record.failOnAutomaticEstimationFailure) {
    statement.bind(9, static_cast<std::int64_t>(*record.failOnAutomaticEstimationFailure));
  } else {
    sqlite3_bind_null(statement.get(), 9);
  }
  statement.bind(10, record.errorCode);
  statement.bind(11, images.dump());
  statement.bind(12, record.measurements.dump());
  if (sqlite3_step(statement.get()) != SQLITE_DONE)
    return storeError(db_, "cannot store a request");
  return detail::okStatus();
}

detail::Result<EstimationRecord> EstimationStore::create(const std::string& owner,
                                                         const CreateInput& input,
                                                         std::int64_t now) {
  EstimationRecord record;
  record.id = randomUuid();
  record.userId = owner;
  record.createdAt = now;
  record.status = kStatusRequested;
  record.gender = input.gender;
  record.age = input.age;
  record.height = input.height;
  record.weight = input.weight;
  record.failOnAutomaticEstimationFailure = input.failOnAutomaticEstimationFailure;
  {
    std::lock_guard lock(mutex_);
    auto saved = save(record, true);
    if (!saved) return saved.error();
  }
  notify(ChangeKind::Create, record);
  return record;
}

detail::Result<std::optional<EstimationRecord>> EstimationStore::get(const std::string& owner,
                                                                     const std::string& id) {
  std::lock_guard lock(mutex_);
  auto record = load(id);
  if (!record) return record.error();
  if (*record && (*record)->userId != owner) return std::optional<EstimationRecord>();
  return record;
}

std::string EstimationStore::makeToken(const std::string& owner,
                                       const EstimationRecord& last) const {
  const auto payload = tokenPayload(last);
  const auto mac = hmacSha256(tokenKey_, owner + "\n" + payload).substr(0, kTokenMacBytes);
  return base64UrlEncode(payload + "\n" + mac);
}

detail::Result<Page> EstimationStore::list(
    const std::string& owner, std::optional<int> limit, const std::optional<std::string>& nextToken,
    const std::function<bool(const EstimationRecord&)>& filter) {
  const int pageSize = std::clamp(limit.value_or(kDefaultLimit), 1, kMaxLimit);
  std::int64_t afterCreatedAt = std::numeric_limits<std::int64_t>::min();
  std::string afterId;
  if (nextToken) {
    // The MAC is binary and may hold any byte: split by its fixed length.
    const auto decoded = base64UrlDecode(*nextToken);
    if (!decoded || decoded->size() < kTokenMacBytes + 1) return invalidToken();
    const auto newline = decoded->size() - kTokenMacBytes - 1;
    if ((*decoded)[newline] != '\n') return invalidToken();
    const auto payload = decoded->substr(0, newline);
    const auto expected = hmacSha256(tokenKey_, owner + "\n" + payload).substr(0, kTokenMacBytes);
    if (!constantTimeEquals(decoded->substr(newline + 1), expected)) return invalidToken();
    const auto slash = payload.find('/');
    if (slash == std::string::npos) return invalidToken();
    const auto [end, ec] = std::from_chars(payload.data(), payload.data() + slash, afterCreatedAt);
    if (ec != std::errc() || end != payload.data() + slash) return invalidToken();
    afterId = payload.substr(slash + 1);
  }

  Page page;
  std::lock_guard lock(mutex_);
  const auto sql = std::string("SELECT ") + kColumns +
                   " FROM estimations WHERE user_id = ?1 AND (created_at > ?2 OR"
                   " (created_at = ?2 AND id > ?3)) ORDER BY created_at, id";
  Statement select(db_, sql.c_str());
  if (!select) return storeError(db_, "cannot list requests");
  select.bind(1, owner);
  select.bind(2, afterCreatedAt);
  select.bind(3, afterId);
  int step = SQLITE_ROW;
  while ((step = sqlite3_step(select.get())) == SQLITE_ROW) {
    auto record = readRow(select);
    if (filter && !filter(record)) continue;
    if (static_cast<int>(page.items.size()) == pageSize) {
      page.nextToken = makeToken(owner, page.items.back());
      break;
    }
    page.items.push_back(std::move(record));
  }
  if (step != SQLITE_ROW && step != SQLITE_DONE) return storeError(db_, "cannot list requests");
  return page;
}

detail::Result<std::optional<EstimationRecord>> EstimationStore::update(
    const std::string& owner, const std::string& id, const nlohmann::json& changes) {
  EstimationRecord record;
  {
    std::lock_guard lock(mutex_);
    auto loaded = load(id);
    if (!loaded) return loaded.error();
    if (!*loaded || (*loaded)->userId != owner) return std::optional<EstimationRecord>();
    record = std::move(**loaded);
    for (const auto& [key, value] : changes.items()) {
      if (key == "age" && value.is_number()) record.age = value.get<int>();
      if (key == "height" && value.is_number()) record.height = value.get<double>();
      if (key == "weight" && value.is_number()) record.weight = value.get<double>();
      if (key == "gender") {
        record.gender = value.is_string() ? std::optional(value.get<std::string>()) : std::nullopt;
      }
      if (key == "failOnAutomaticEstimationFailure") {
        record.failOnAutomaticEstimationFailure =
            value.is_boolean() ? std::optional(value.get<bool>()) : std::nullopt;
      }
    }
    auto saved = save(record, false);
    if (!saved) return saved.error();
  }
  notify(ChangeKind::Update, record);
  return std::optional(record);
}

detail::Result<std::optional<EstimationRecord>> EstimationStore::remove(const std::string& owner,
                                                                        const std::string& id) {
  EstimationRecord record;
  {
    std::lock_guard lock(mutex_);
    auto loaded = load(id);
    if (!loaded) return loaded.error();
    if (!*loaded || (*loaded)->userId != owner) return std::optional<EstimationRecord>();
    record = std::move(**loaded);
    Statement erase(db_, "DELETE FROM estimations WHERE id = ?1");
    if (!erase) return storeError(db_, "cannot delete a request");
    erase.bind(1, id);
    if (sqlite3_step(erase.get()) != SQLITE_DONE) return storeError(db_, "cannot delete a request");
  }
  notify(ChangeKind::Delete, record);
  return std::optional(record);
}

detail::Result<std::optional<EstimationRecord>> EstimationStore::attachImage(
    const std::string& owner, const std::string& id, bool front, const S3Location& location) {
  EstimationRecord record;
  {
    std::lock_guard lock(mutex_);
    auto loaded = load(id);
    if (!loaded) return loaded.error();
    if (!*loaded || (*loaded)->userId != owner) return std::optional<EstimationRecord>();
    record = std::move(**loaded);
    record.images[front ? "frontImage" : "sideImage"] = location;
    if (record.status == kStatusRequested && record.images.count("frontImage") &&
        record.images.count("sideImage")) {
      record.status = kStatusPendingAutomatic;
    }
    auto saved = save(record, false);
    if (!saved) return saved.error();
  }
  notify(ChangeKind::Update, record);
  return std::optional(record);
}

detail::Result<std::optional<EstimationRecord>> EstimationStore::find(const std::string& id) {
  std::lock_guard lock(mutex_);
  return load(id);
}

detail::Result<std::vector<std::string>> EstimationStore::pendingAutomatic() {
  std::lock_guard lock(mutex_);
  Statement select(db_,
                   "SELECT id FROM estimations WHERE status = 'pendingAutomaticEstimation'"
                   " ORDER BY created_at, id");
  if (!select) return storeError(db_, "cannot list pending requests");
  std::vector<std::string> ids;
  while (sqlite3_step(select.get()) == SQLITE_ROW) ids.push_back(select.text(0));
  return ids;
}

detail::Result<OverviewPage> EstimationStore::listAll(std::int64_t offset, int limit) {
  OverviewPage page;
  std::lock_guard lock(mutex_);
  {
    Statement count(db_, "SELECT COUNT(*) FROM estimations");
    if (!count || sqlite3_step(count.get()) != SQLITE_ROW) {
      return storeError(db_, "cannot count requests");
    }
    page.total = sqlite3_column_int64(count.get(), 0);
  }
  const auto sql = std::string("SELECT ") + kColumns +
                   " FROM estimations ORDER BY created_at DESC, id DESC LIMIT ?1 OFFSET ?2";
  Statement select(db_, sql.c_str());
  if (!select) return storeError(db_, "cannot list requests");
  select.bind(1, static_cast<std::int64_t>(std::clamp(limit, 1, kMaxLimit)));
  select.bind(2, std::max<std::int64_t>(offset, 0));
  int step = SQLITE_ROW;
  while ((step = sqlite3_step(select.get())) == SQLITE_ROW) page.items.push_back(readRow(select));
  if (step != SQLITE_DONE) return storeError(db_, "cannot list requests");
  return page;
}

detail::Result<std::optional<EstimationRecord>> EstimationStore::finishAutomatic(
    const std::string& id, const EstimationOutcome& outcome) {
  return finish(id, outcome, false);
}

detail::Result<std::optional<EstimationRecord>> EstimationStore::finishPending(
    const std::string& id, const EstimationOutcome& outcome) {
  return finish(id, outcome, true);
}

detail::Result<std::optional<EstimationRecord>> EstimationStore::finish(
    const std::string& id, const EstimationOutcome& outcome, bool manualToo) {
  EstimationRecord record;
  {
    std::lock_guard lock(mutex_);
    auto loaded = load(id);
    if (!loaded) return loaded.error();
    const bool waiting = *loaded && ((*loaded)->status == kStatusPendingAutomatic ||
                                     (manualToo && (*loaded)->status == kStatusPendingManual));
    if (!waiting) return std::optional<EstimationRecord>();
    record = std::move(**loaded);
    record.status = outcome.status;
    record.errorCode = outcome.errorCode;
    for (const auto& [field, value] : outcome.measurements.items()) {
      record.measurements[field] = value;
    }
    for (const auto& [field, location] : outcome.images) record.images[field] = location;
    auto saved = save(record, false);
    if (!saved) return saved.error();
  }
  notify(ChangeKind::Update, record);
  return std::optional(record);
}

}  // namespace corvenza::emulator::estimation
