#pragma once
// Where a creation queue keeps its entries: one SQLite database and the
// prepared photos, in a folder of one user's alone. Every change is written
// before the queue acts on it, so a process killed at any point leaves a
// state a later run can resume from.

#include <corvenza/creation_queue.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/result.h"
#include "platform/sqlite/database.h"

namespace corvenza::queue {

/// One entry as stored: the public view plus what resuming needs.
struct StoredEntry {
  QueuedCreation view;
  std::int64_t sequence = 0;  // enqueue order
  // The queue folder's photos of this id (never what the database says);
  // empty for an entry whose stored id is damaged.
  std::filesystem::path frontFile;
  std::filesystem::path sideFile;
  std::uint64_t bytes = 0;
  /// When the latest create was sent without its answer arriving: a request
  /// may exist that this entry has not heard of.
  std::optional<std::int64_t> createSentAtMs;
};

class QueueStore {
 public:
  /// Opens the folder (made 0700) and its database "creation-queue.sqlite" (0600).
  static detail::Result<std::unique_ptr<QueueStore>> open(const std::filesystem::path& directory);

  /// Every entry, oldest first.
  detail::Result<std::vector<StoredEntry>> load();

  /// Writes @p front and @p side as the new entry's photos, then its row.
  /// Nothing is left behind when any part fails.
  detail::Result<StoredEntry> insert(QueuedCreation view, const std::vector<std::uint8_t>& front,
                                     const std::vector<std::uint8_t>& side);
  /// Writes the entry's changing fields (state, request id, error with its
  /// details, attempts, create-sent time). A failure means the step is not
  /// recorded: the caller must not act as if it were.
  detail::Status update(const StoredEntry& entry);
  /// Removes the entry's photos (the row stays).
  void removePhotos(const StoredEntry& entry);
  /// Removes the row and the photos.
  detail::Status remove(const StoredEntry& entry);
  /// Removes photos no entry of @p entries names that are older than
  /// @p age (a process killed between writing an entry's photos and its row
  /// leaves such files; younger ones may belong to an enqueue in flight).
  void removeStrayPhotos(const std::vector<StoredEntry>& entries, std::chrono::minutes age);

  const std::filesystem::path& directory() const { return directory_; }

 private:
  QueueStore(std::filesystem::path directory, std::unique_ptr<sqlite::Database> database);
  /// "<folder>/photos/<id>-front.jpg" or "-side.jpg"; empty when @p queueId
  /// is not one this store made.
  std::filesystem::path photoPath(const std::string& queueId, bool front) const;
  /// A database failure as the queue's storage error, in words.
  Error storageError(const Error& databaseError) const;
  detail::Result<std::filesystem::path> writePhoto(const std::string& name,
                                                   const std::vector<std::uint8_t>& bytes);

  std::filesystem::path directory_;
  std::unique_ptr<sqlite::Database> database_;
};

/// An error of the queue's domain.
Error queueError(CreationQueueErrorCode code, std::string description,
                 std::optional<UserInfo> userInfo = std::nullopt);

}  // namespace corvenza::queue
