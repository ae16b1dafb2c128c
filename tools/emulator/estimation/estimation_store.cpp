#include "estimation/estimation_store.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "base/random.h"
#include "platform/encoding/base64.h"
#include "platform/sigv4/crypto.h"
#include "platform/sqlite/database.h"

namespace corvenza::emulator::estimation {
namespace {

Error invalidToken() {
  return Error(kEstimationStoreErrorDomain, kInvalidNextToken, std::nullopt,
               "Invalid nextToken provided.");
}

using sqlite::Statement;

constexpr const char* kColumns =
    "id, user_id, created_at, status, gender, age, height, weight, fail_on_failure, error_code,"
    " images, measurements";

EstimationRecord readRow(const Statement& row) {
  EstimationRecord record;
  record.id = row.text(0);
  record.userId = row.text(1);
  record.createdAt = row.integer(2);
  record.status = row.text(3);
  record.gender = row.optionalText(4);
  record.age = static_cast<int>(row.integer(5));
  record.height = row.real(6);
  record.weight = row.real(7);
  if (!row.isNull(8)) record.failOnAutomaticEstimationFailure = row.integer(8) != 0;
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
  sqlite::Database::Options options;
  options.errorDomain = kEstimationStoreErrorDomain;
  options.errorPrefix = "estimation database";
  options.serialized = true;
  options.privateFile = true;
  auto opened = sqlite::Database::openFile(file, std::move(options));
  if (!opened) return opened.error();
  auto database = std::move(opened).value();
  if (auto made = database->execute(
          "CREATE TABLE IF NOT EXISTS estimations ("
          " id TEXT PRIMARY KEY, user_id TEXT NOT NULL, created_at INTEGER NOT NULL,"
          " status TEXT NOT NULL, gender TEXT, age INTEGER NOT NULL, height REAL NOT NULL,"
          " weight REAL NOT NULL, fail_on_failure INTEGER, error_code TEXT,"
          " images TEXT NOT NULL DEFAULT '{}', measurements TEXT NOT NULL DEFAULT '{}');"
          "CREATE INDEX IF NOT EXISTS estimations_by_owner ON estimations(user_id, created_at, id);"
          "CREATE TABLE IF NOT EXISTS settings (name TEXT PRIMARY KEY, value TEXT NOT NULL);");
      !made) {
    return made.error();
  }
  // The token key persists so that page tokens stay valid across restarts.
  auto key = database->queryText("SELECT value FROM settings WHERE name = 'page_token_key'", {});
  if (!key) return key.error();
  std::string tokenKey = key->value_or("");
  if (tokenKey.empty()) {
    tokenKey = encoding::base64UrlEncode(randomBytes(32));
    if (auto stored = database->run(
            "INSERT INTO settings (name, value) VALUES ('page_token_key', ?1)", {tokenKey});
        !stored) {
      return stored.error();
    }
  }
  return std::unique_ptr<EstimationStore>(
      new EstimationStore(std::move(database), std::move(tokenKey)));
}

EstimationStore::EstimationStore(std::unique_ptr<sqlite::Database> database, std::string tokenKey)
    : database_(std::move(database)), tokenKey_(std::move(tokenKey)) {}

EstimationStore::~EstimationStore() = default;

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
  Statement select(*database_, sql);
  select.bind(1, std::string_view(id));
  switch (select.step()) {
    case Statement::Step::row:
      return std::optional<EstimationRecord>(readRow(select));
    case Statement::Step::done:
      return std::optional<EstimationRecord>();
    case Statement::Step::failed:
      break;
  }
  return database_->lastError("cannot read a request");
}

detail::Status EstimationStore::save(const EstimationRecord& record, bool insert) {
  const char* sql =
      insert ? "INSERT INTO estimations (id, user_id, created_at, status, gender, age, height,"
               " weight, fail_on_failure, error_code, images, measurements)"
               " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)"
             : "UPDATE estimations SET user_id = ?2, created_at = ?3, status = ?4, gender = ?5,"
               " age = ?6, height = ?7, weight = ?8, fail_on_failure = ?9, error_code = ?10,"
               " images = ?11, measurements = ?12 WHERE id = ?1";
  Statement statement(*database_, sql);
  nlohmann::json images = nlohmann::json::object();
  for (const auto& [field, location] : record.images) images[field] = toJson(location);
  statement.bind(1, std::string_view(record.id));
  statement.bind(2, std::string_view(record.userId));
  statement.bind(3, record.createdAt);
  statement.bind(4, std::string_view(record.status));
  statement.bind(5, record.gender);
  statement.bind(6, static_cast<std::int64_t>(record.age));
  statement.bind(7, record.height);
  statement.bind(8, record.weight);
  if (record.failOnAutomaticEstimationFailure) {
    statement.bind(9, static_cast<std::int64_t>(*record.failOnAutomaticEstimationFailure));
  } else {
    statement.bindNull(9);
  }
  statement.bind(10, record.errorCode);
  statement.bind(11, std::string_view(images.dump()));
  statement.bind(12, std::string_view(record.measurements.dump()));
  if (statement.step() != Statement::Step::done) {
    return database_->lastError("cannot store a request");
  }
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
  const auto mac = sigv4::hmacSha256(tokenKey_, owner + "\n" + payload).substr(0, kTokenMacBytes);
  return encoding::base64UrlEncode(payload + "\n" + mac);
}

detail::Result<Page> EstimationStore::list(
    const std::string& owner, std::optional<int> limit, const std::optional<std::string>& nextToken,
    const std::function<bool(const EstimationRecord&)>& filter) {
  const int pageSize = std::clamp(limit.value_or(kDefaultLimit), 1, kMaxLimit);
  std::int64_t afterCreatedAt = std::numeric_limits<std::int64_t>::min();
  std::string afterId;
  if (nextToken) {
    // The MAC is binary and may hold any byte: split by its fixed length.
    const auto decoded = encoding::base64UrlDecode(*nextToken);
    if (!decoded || decoded->size() < kTokenMacBytes + 1) return invalidToken();
    const auto newline = decoded->size() - kTokenMacBytes - 1;
    if ((*decoded)[newline] != '\n') return invalidToken();
    const auto payload = decoded->substr(0, newline);
    const auto expected =
        sigv4::hmacSha256(tokenKey_, owner + "\n" + payload).substr(0, kTokenMacBytes);
    if (!sigv4::constantTimeEquals(decoded->substr(newline + 1), expected)) return invalidToken();
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
  Statement select(*database_, sql);
  select.bind(1, std::string_view(owner));
  select.bind(2, afterCreatedAt);
  select.bind(3, std::string_view(afterId));
  auto step = Statement::Step::row;
  while ((step = select.step()) == Statement::Step::row) {
    auto record = readRow(select);
    if (filter && !filter(record)) continue;
    if (static_cast<int>(page.items.size()) == pageSize) {
      page.nextToken = makeToken(owner, page.items.back());
      break;
    }
    page.items.push_back(std::move(record));
  }
  if (step == Statement::Step::failed) return database_->lastError("cannot list requests");
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
    Statement erase(*database_, "DELETE FROM estimations WHERE id = ?1");
    erase.bind(1, std::string_view(id));
    if (erase.step() != Statement::Step::done) {
      return database_->lastError("cannot delete a request");
    }
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
  Statement select(*database_,
                   "SELECT id FROM estimations WHERE status = 'pendingAutomaticEstimation'"
                   " ORDER BY created_at, id");
  std::vector<std::string> ids;
  auto step = Statement::Step::row;
  while ((step = select.step()) == Statement::Step::row) ids.push_back(select.text(0));
  if (step == Statement::Step::failed) return database_->lastError("cannot list pending requests");
  return ids;
}

detail::Result<OverviewPage> EstimationStore::listAll(std::int64_t offset, int limit) {
  OverviewPage page;
  std::lock_guard lock(mutex_);
  {
    Statement count(*database_, "SELECT COUNT(*) FROM estimations");
    if (count.step() != Statement::Step::row) return database_->lastError("cannot count requests");
    page.total = count.integer(0);
  }
  const auto sql = std::string("SELECT ") + kColumns +
                   " FROM estimations ORDER BY created_at DESC, id DESC LIMIT ?1 OFFSET ?2";
  Statement select(*database_, sql);
  select.bind(1, static_cast<std::int64_t>(std::clamp(limit, 1, kMaxLimit)));
  select.bind(2, std::max<std::int64_t>(offset, 0));
  auto step = Statement::Step::row;
  while ((step = select.step()) == Statement::Step::row) page.items.push_back(readRow(select));
  if (step == Statement::Step::failed) return database_->lastError("cannot list requests");
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
