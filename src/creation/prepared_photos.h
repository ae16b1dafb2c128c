#pragma once
// A creation's two photos as they are uploaded: JPEG files on disk. Files
// this object prepared are its own and go when it does (or when the
// creation says they are no longer needed), so no photo of a person lingers;
// files it was handed (a queue's stored photos) stay where their owner keeps them.

#include <corvenza/image.h>

#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>

#include "core/result.h"
#include "platform/dispatch/executor.h"

namespace corvenza::creation {

class PreparedPhotos {
 public:
  PreparedPhotos() = default;
  /// Photos already prepared and kept elsewhere; never removed by this object.
  PreparedPhotos(std::filesystem::path front, std::filesystem::path side);
  ~PreparedPhotos();
  PreparedPhotos(const PreparedPhotos&) = delete;
  PreparedPhotos& operator=(const PreparedPhotos&) = delete;

  /// Prepares @p image as the front (or side) photo in a private temporary
  /// file of this object's own. When prepareAhead is at it, waits for that
  /// instead, and answers its outcome. Thread-safe.
  detail::Status prepare(const Image& image, bool front);
  /// Starts preparing @p front, then @p side, on @p executor, so that the
  /// encoding of one photo overlaps the network steps before it. A photo
  /// whose step comes first is prepared by that step's prepare() instead.
  static void prepareAhead(const std::shared_ptr<PreparedPhotos>& photos,
                           std::shared_ptr<const Image> front, std::shared_ptr<const Image> side,
                           dispatch::Executor& executor);
  /// The file of the front (or side) photo; empty before it is prepared.
  std::filesystem::path file(bool front) const;
  /// Removes the files this object prepared, and ends preparing ahead: a
  /// photo it finishes later is removed at once. Thread-safe; idempotent.
  void removeOwnFiles();

  /// What keeps photos from being prepared at all: the private temporary
  /// folder cannot be made, is not ours alone, or is a link.
  static std::optional<Error> checkTemporaryFolder();

 private:
  struct Slot {
    std::filesystem::path file;
    bool owned = false;
    bool preparing = false;
    /// The outcome of a preparation made ahead, until a step takes it.
    std::optional<detail::Status> ahead;
  };
  Slot& slot(bool front) { return front ? front_ : side_; }
  /// Prepares one slot unless someone is at it or it is done; false then.
  bool prepareAheadOne(const Image& image, bool front);
  void store(Slot& slot, detail::Result<std::filesystem::path> file, bool keep);

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  Slot front_;
  Slot side_;
  bool ended_ = false;  // removeOwnFiles ran: nothing more is prepared ahead
};

}  // namespace corvenza::creation
