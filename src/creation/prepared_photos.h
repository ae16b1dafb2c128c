#pragma once
// A creation's two photos as they are uploaded: JPEG files on disk. Files
// this object prepared are its own and go when it does (or when the
// creation says they are no longer needed), so no photo of a person lingers;
// files it was handed (a queue's stored photos) stay where their owner keeps them.

#include <corvenza/image.h>

#include <filesystem>
#include <mutex>
#include <optional>

#include "core/result.h"

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
  /// file of this object's own. Thread-safe.
  detail::Status prepare(const Image& image, bool front);
  /// The file of the front (or side) photo; empty before it is prepared.
  std::filesystem::path file(bool front) const;
  /// Removes the files this object prepared. Thread-safe; idempotent.
  void removeOwnFiles();

  /// What keeps photos from being prepared at all: the private temporary
  /// folder cannot be made, is not ours alone, or is a link.
  static std::optional<Error> checkTemporaryFolder();

 private:
  mutable std::mutex mutex_;
  std::filesystem::path front_;
  std::filesystem::path side_;
  bool ownsFront_ = false;
  bool ownsSide_ = false;
};

}  // namespace corvenza::creation
