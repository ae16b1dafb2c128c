#include "queue/queue_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <nlohmann/json.hpp>
#include <random>
#include <set>

#include "core/unique_fd.h"
#include "platform/device/private_directory.h"

namespace corvenza::queue {

namespace {

constexpr const char* kSchema = R"sql(
PRAGMA journal_mode=WAL;
PRAGMA synchronous=NORMAL;
CREATE TABLE IF NOT EXISTS entries(
  queue_id TEXT PRIMARY KEY,
  sequence INTEGER NOT NULL,
  state TEXT NOT NULL,
  request_id TEXT,
  height REAL NOT NULL,
  weight REAL NOT NULL,
  age INTEGER NOT NULL,
  gender TEXT,
  fail_on_automatic INTEGER NOT NULL,
  front_file TEXT NOT NULL,
  side_file TEXT NOT NULL,
  bytes INTEGER NOT NULL,
  create_sent_at_ms INTEGER,
  failed_attempts INTEGER NOT NULL DEFAULT 0,
  error_domain TEXT,
  error_code INTEGER,
  error_text TEXT,
  enqueued_at_ms INTEGER NOT NULL);
)sql";

// Added after the first release: the error's details, so that a later process
// can say in words what went wrong. Absent in older folders until opened.
constexpr const char* kErrorInfoColumn = "ALTER TABLE entries ADD COLUMN error_info TEXT";

std::int64_t millisecondsOf(std::chrono::system_clock::time_point when) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
}

std::optional<QueuedCreationState> stateFromText(std::string_view text) {
  for (auto state : {QueuedCreationState::pending, QueuedCreationState::created,
                     QueuedCreationState::frontAttached, QueuedCreationState::sideAttached,
                     QueuedCreationState::done, QueuedCreationState::failed}) {
    if (toString(state) == text) return state;
  }
  return std::nullopt;
}

std::string randomHex(std::size_t digits) {
  static thread_local std::mt19937_64 engine{std::random_device{}()};
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < digits; ++i) out += kHex[engine() % 16];
  return out;
}

// Ids are made here as "q-" and 16 hex digits; anything else in the database
// was edited and must never become part of a path.
bool isQueueId(std::string_view id) {
  if (id.size() != 18 || id.substr(0, 2) != "q-") return false;
  return id.find_first_not_of("0123456789abcdef", 2) == std::string_view::npos;
}

std::string photoName(const std::string& queueId, bool front) {
  return queueId + (front ? "-front.jpg" : "-side.jpg");
}

nlohmann::json userInfoJson(const Error& error) {
  auto json = nlohmann::json::object();
  if (error.userInfo()) {
    for (const auto& [key, value] : *error.userInfo()) json[key] = value;
  }
  return json;
}

std::optional<UserInfo> userInfoFrom(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  const auto json = nlohmann::json::parse(*text, nullptr, /*allow_exceptions=*/false);
  if (!json.is_object() || json.empty()) return std::nullopt;
  UserInfo info;
  for (const auto& [key, value] : json.items()) {
    if (value.is_string()) info[key] = value.get<std::string>();
  }
  return info;
}

bool writeAll(int fd, const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const auto n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

Error queueError(CreationQueueErrorCode code, std::string description,
                 std::optional<UserInfo> userInfo) {
  return Error(kCreationQueueErrorDomain, static_cast<int>(code), std::move(userInfo),
               std::move(description));
}

Error QueueStore::storageError(const Error& databaseError) const {
  // The database's own codes would collide with the queue's; they go to the
  // user information, and the words say when the disk is full, which SQLite
  // may report as an I/O error.
  const int systemError = database_ ? database_->systemErrno() : 0;
  const bool full = databaseError.code() == 13 || systemError == ENOSPC;
  UserInfo info{{"sqliteCode", std::to_string(databaseError.code())}};
  if (full) info["diskFull"] = "true";
  std::string words = databaseError.localizedDescription();
  if (full) words = "The disk holding the creation queue is full (" + words + ")";
  return queueError(CreationQueueErrorCode::storage, std::move(words), std::move(info));
}

std::filesystem::path QueueStore::photoPath(const std::string& queueId, bool front) const {
  if (!isQueueId(queueId)) return {};
  return directory_ / "photos" / photoName(queueId, front);
}

QueueStore::QueueStore(std::filesystem::path directory, std::unique_ptr<sqlite::Database> database)
    : directory_(std::move(directory)), database_(std::move(database)) {}

detail::Result<std::unique_ptr<QueueStore>> QueueStore::open(
    const std::filesystem::path& directory) {
  auto folder = device::ensurePrivateDirectory(directory);
  if (!folder) {
    return queueError(
        CreationQueueErrorCode::storage,
        "The creation queue's folder cannot be used: " + folder.error().localizedDescription());
  }
  auto photos = device::ensurePrivateDirectory(directory / "photos");
  if (!photos) {
    return queueError(CreationQueueErrorCode::storage,
                      "The creation queue's photo folder cannot be used: " +
                          photos.error().localizedDescription());
  }
  sqlite::Database::Options options;
  options.errorDomain = kCreationQueueErrorDomain;
  options.errorPrefix = "Creation queue database";
  options.privateFile = true;
  options.serialized = true;
  auto database = sqlite::Database::openFile(directory / "creation-queue.sqlite", options);
  if (!database) {
    return queueError(CreationQueueErrorCode::storage, database.error().localizedDescription(),
                      UserInfo{{"sqliteCode", std::to_string(database.error().code())}});
  }
  // Kept between openings, so that a later one on a full disk can still read.
  (*database)->keepJournalFiles();
  std::unique_ptr<QueueStore> store(new QueueStore(directory, std::move(database.value())));
  if (auto made = store->database_->execute(kSchema); !made) {
    return store->storageError(made.error());
  }
  if (!store->database_->queryText("SELECT error_info FROM entries LIMIT 0", {})) {
    if (auto added = store->database_->execute(kErrorInfoColumn); !added) {
      return store->storageError(added.error());
    }
  }
  return store;
}

detail::Result<std::vector<StoredEntry>> QueueStore::load() {
  sqlite::Statement select(*database_,
                           "SELECT queue_id, sequence, state, request_id, height, weight, age, "
                           "gender, fail_on_automatic, front_file, side_file, bytes, "
                           "create_sent_at_ms, failed_attempts, error_domain, error_code, "
                           "error_text, enqueued_at_ms, error_info, "
                           "typeof(height) IN ('real', 'integer') AND "
                           "typeof(weight) IN ('real', 'integer') AND typeof(age) = 'integer' "
                           "FROM entries ORDER BY sequence");
  std::vector<StoredEntry> out;
  for (;;) {
    const auto step = select.step();
    if (step == sqlite::Statement::Step::done) break;
    if (step == sqlite::Statement::Step::failed) {
      return storageError(database_->lastError("reading the creation queue"));
    }
    StoredEntry e;
    e.view.queueId = select.text(0);
    e.sequence = select.integer(1);
    // A state this version does not know is left alone as failed.
    e.view.state = stateFromText(select.text(2)).value_or(QueuedCreationState::failed);
    e.view.requestId = select.optionalText(3);
    e.view.heightInCm = select.real(4);
    e.view.weightInKg = select.real(5);
    e.view.age = static_cast<int>(select.integer(6));
    if (auto gender = select.optionalText(7)) e.view.gender = Gender::fromRawValue(*gender);
    e.view.failOnAutomaticEstimationFailure = select.integer(8) != 0;
    // The stored file names (columns 9 and 10) are not trusted: the photos
    // are always the queue folder's own files of this id.
    e.frontFile = photoPath(e.view.queueId, true);
    e.sideFile = photoPath(e.view.queueId, false);
    // SQLite reads text where a number should be as 0: never send such values.
    const bool valuesAreNumbers = select.integer(19) != 0;
    if (e.frontFile.empty() || !valuesAreNumbers) {
      e.view.state = QueuedCreationState::failed;
      e.view.lastError = queueError(CreationQueueErrorCode::storage,
                                    e.frontFile.empty()
                                        ? "The stored entry's id is damaged; it is never run"
                                        : "The stored entry's values are damaged; it is never run");
    }
    e.bytes = static_cast<std::uint64_t>(select.integer(11));
    if (!select.isNull(12)) e.createSentAtMs = select.integer(12);
    e.view.failedAttempts = static_cast<int>(select.integer(13));
    if (auto domain = select.optionalText(14); domain && !e.frontFile.empty() && valuesAreNumbers) {
      e.view.lastError = Error(*domain, static_cast<int>(select.integer(15)),
                               userInfoFrom(select.optionalText(18)), select.text(16));
    }
    e.view.enqueuedAt =
        std::chrono::system_clock::time_point(std::chrono::milliseconds(select.integer(17)));
    out.push_back(std::move(e));
  }
  return out;
}

detail::Result<std::filesystem::path> QueueStore::writePhoto(
    const std::string& name, const std::vector<std::uint8_t>& bytes) {
  const auto path = directory_ / "photos" / name;
  detail::UniqueFd fd(
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  const auto failure = [](const char* what) {
    const int code = errno;
    UserInfo info{{"errno", std::to_string(code)}};
    if (code == ENOSPC) info["diskFull"] = "true";
    return queueError(CreationQueueErrorCode::storage,
                      std::string(what) + ": " + std::strerror(code), std::move(info));
  };
  if (fd.get() < 0) return failure("A queued photo cannot be created");
  if (!writeAll(fd.get(), bytes) || ::close(fd.release()) != 0) {
    auto error = failure("A queued photo cannot be written");
    ::unlink(path.c_str());
    return error;
  }
  return path;
}

detail::Result<StoredEntry> QueueStore::insert(QueuedCreation view,
                                               const std::vector<std::uint8_t>& front,
                                               const std::vector<std::uint8_t>& side) {
  view.queueId = "q-" + randomHex(16);
  view.state = QueuedCreationState::pending;
  StoredEntry e;
  auto frontFile = writePhoto(photoName(view.queueId, true), front);
  if (!frontFile) return frontFile.error();
  auto sideFile = writePhoto(photoName(view.queueId, false), side);
  if (!sideFile) {
    ::unlink(frontFile->c_str());
    return sideFile.error();
  }
  e.frontFile = *frontFile;
  e.sideFile = *sideFile;
  e.bytes = front.size() + side.size();

  sqlite::Statement insert(
      *database_,
      "INSERT INTO entries(queue_id, sequence, state, height, weight, age, gender, "
      "fail_on_automatic, front_file, side_file, bytes, enqueued_at_ms) VALUES(?1, "
      "(SELECT IFNULL(MAX(sequence), 0) + 1 FROM entries), ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, "
      "?11)");
  insert.bind(1, view.queueId);
  insert.bind(2, toString(view.state));
  insert.bind(3, view.heightInCm);
  insert.bind(4, view.weightInKg);
  insert.bind(5, std::int64_t{view.age});
  insert.bind(6, view.gender ? std::optional<std::string>(view.gender->rawValue()) : std::nullopt);
  insert.bind(7, std::int64_t{view.failOnAutomaticEstimationFailure ? 1 : 0});
  // Only the names: where the folder lives may change (a restore elsewhere).
  insert.bind(8, e.frontFile.filename().string());
  insert.bind(9, e.sideFile.filename().string());
  insert.bind(10, static_cast<std::int64_t>(e.bytes));
  insert.bind(11, millisecondsOf(view.enqueuedAt));
  if (insert.step() != sqlite::Statement::Step::done) {
    auto error = storageError(database_->lastError("storing a queued creation"));
    ::unlink(e.frontFile.c_str());
    ::unlink(e.sideFile.c_str());
    return error;
  }
  auto sequence =
      database_->queryText("SELECT sequence FROM entries WHERE queue_id = ?1", {view.queueId});
  if (sequence && *sequence) e.sequence = std::stoll(**sequence);
  e.view = std::move(view);
  return e;
}

detail::Status QueueStore::update(const StoredEntry& entry) {
  sqlite::Statement update(*database_,
                           "UPDATE entries SET state = ?2, request_id = ?3, create_sent_at_ms = "
                           "?4, failed_attempts = ?5, error_domain = ?6, error_code = ?7, "
                           "error_text = ?8, error_info = ?9 WHERE queue_id = ?1");
  const auto& view = entry.view;
  update.bind(1, view.queueId);
  update.bind(2, toString(view.state));
  update.bind(3, view.requestId);
  if (entry.createSentAtMs) {
    update.bind(4, *entry.createSentAtMs);
  } else {
    update.bindNull(4);
  }
  update.bind(5, std::int64_t{view.failedAttempts});
  if (view.lastError) {
    update.bind(6, view.lastError->domain());
    update.bind(7, std::int64_t{view.lastError->code()});
    update.bind(8, view.lastError->localizedDescription());
    update.bind(9, userInfoJson(*view.lastError).dump());
  } else {
    for (int column : {6, 7, 8, 9}) update.bindNull(column);
  }
  if (update.step() != sqlite::Statement::Step::done) {
    return storageError(database_->lastError("recording a queued creation's step"));
  }
  return detail::okStatus();
}

void QueueStore::removePhotos(const StoredEntry& entry) {
  for (const auto& file :
       {photoPath(entry.view.queueId, true), photoPath(entry.view.queueId, false)}) {
    if (!file.empty()) ::unlink(file.c_str());
  }
}

detail::Status QueueStore::remove(const StoredEntry& entry) {
  if (auto removed =
          database_->run("DELETE FROM entries WHERE queue_id = ?1", {entry.view.queueId});
      !removed) {
    return storageError(removed.error());
  }
  removePhotos(entry);
  return detail::okStatus();
}

void QueueStore::removeStrayPhotos(const std::vector<StoredEntry>& entries,
                                   std::chrono::minutes age) {
  std::set<std::filesystem::path> named;
  for (const auto& e : entries) {
    named.insert(e.frontFile);
    named.insert(e.sideFile);
  }
  const auto cutoff = std::filesystem::file_time_type::clock::now() - age;
  std::error_code error;
  for (const auto& file : std::filesystem::directory_iterator(directory_ / "photos", error)) {
    if (named.count(file.path())) continue;
    std::error_code ignored;
    if (file.last_write_time(ignored) < cutoff) std::filesystem::remove(file.path(), ignored);
  }
}

}  // namespace corvenza::queue
