#include "queue/queue_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
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

Error queueError(CreationQueueErrorCode code, std::string description) {
  return Error(kCreationQueueErrorDomain, static_cast<int>(code), std::nullopt,
               std::move(description));
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
  if (!database) return database.error();
  if (auto made = (*database)->execute(kSchema); !made) return made.error();
  return std::unique_ptr<QueueStore>(new QueueStore(directory, std::move(database.value())));
}

detail::Result<std::vector<StoredEntry>> QueueStore::load() {
  sqlite::Statement select(*database_,
                           "SELECT queue_id, sequence, state, request_id, height, weight, age, "
                           "gender, fail_on_automatic, front_file, side_file, bytes, "
                           "create_sent_at_ms, failed_attempts, error_domain, error_code, "
                           "error_text, enqueued_at_ms FROM entries ORDER BY sequence");
  std::vector<StoredEntry> out;
  for (;;) {
    const auto step = select.step();
    if (step == sqlite::Statement::Step::done) break;
    if (step == sqlite::Statement::Step::failed) {
      return database_->lastError("reading the creation queue");
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
    e.frontFile = select.text(9);
    e.sideFile = select.text(10);
    e.bytes = static_cast<std::uint64_t>(select.integer(11));
    if (!select.isNull(12)) e.createSentAtMs = select.integer(12);
    e.view.failedAttempts = static_cast<int>(select.integer(13));
    if (auto domain = select.optionalText(14)) {
      e.view.lastError =
          Error(*domain, static_cast<int>(select.integer(15)), std::nullopt, select.text(16));
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
  if (fd.get() < 0) {
    return queueError(CreationQueueErrorCode::storage, "A queued photo cannot be created");
  }
  bool ok = writeAll(fd.get(), bytes);
  ok = ::close(fd.release()) == 0 && ok;
  if (!ok) {
    ::unlink(path.c_str());
    return queueError(CreationQueueErrorCode::storage, "A queued photo cannot be written");
  }
  return path;
}

detail::Result<StoredEntry> QueueStore::insert(QueuedCreation view,
                                               const std::vector<std::uint8_t>& front,
                                               const std::vector<std::uint8_t>& side) {
  view.queueId = "q-" + randomHex(16);
  view.state = QueuedCreationState::pending;
  StoredEntry e;
  auto frontFile = writePhoto(view.queueId + "-front.jpg", front);
  if (!frontFile) return frontFile.error();
  auto sideFile = writePhoto(view.queueId + "-side.jpg", side);
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
  insert.bind(8, e.frontFile.string());
  insert.bind(9, e.sideFile.string());
  insert.bind(10, static_cast<std::int64_t>(e.bytes));
  insert.bind(11, millisecondsOf(view.enqueuedAt));
  if (insert.step() != sqlite::Statement::Step::done) {
    auto error = database_->lastError("storing a queued creation");
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
                           "error_text = ?8 WHERE queue_id = ?1");
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
  } else {
    update.bindNull(6);
    update.bindNull(7);
    update.bindNull(8);
  }
  if (update.step() != sqlite::Statement::Step::done) {
    return database_->lastError("recording a queued creation's step");
  }
  return detail::okStatus();
}

void QueueStore::removePhotos(const StoredEntry& entry) {
  ::unlink(entry.frontFile.c_str());
  ::unlink(entry.sideFile.c_str());
}

detail::Status QueueStore::remove(const StoredEntry& entry) {
  if (auto removed =
          database_->run("DELETE FROM entries WHERE queue_id = ?1", {entry.view.queueId});
      !removed) {
    return removed;
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
