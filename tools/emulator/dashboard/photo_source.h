#pragma once
// A request's photos for the dashboard, read straight from the object store
// (the storage service and its per-identity rule stay as they are) and always
// re-encoded: the browser gets a JPEG turned as its EXIF orientation says,
// never the stored bytes under a content type a user chose.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "base/http_message.h"
#include "estimation/estimation_record.h"
#include "storage/object_store.h"

namespace corvenza::emulator::dashboard {

/// Width the dashboard's thumbnails are scaled to when the estimator made none.
inline constexpr double kDashboardThumbnailWidth = 240;

struct PhotoChoice {
  bool front = true;
  bool thumbnail = false;
};

/// "front.jpg", "front-thumb.jpg", "side.jpg" or "side-thumb.jpg"; nothing otherwise.
std::optional<PhotoChoice> photoChoiceFromName(std::string_view name);

class PhotoSource {
 public:
  /// Objects live under @p objectsRoot as the storage service keeps them.
  explicit PhotoSource(std::filesystem::path objectsRoot) : store_(std::move(objectsRoot)) {}

  /// The chosen photo of @p record: 200 image/jpeg, 304 when @p ifNoneMatch
  /// names it, 404 when there is none, 415 when it is not a picture, 422 when
  /// it declares more than kMaxPicturePixels, 503 when memory runs out. A
  /// thumbnail is the estimator's when made, else the photo scaled down.
  Response serve(const estimation::EstimationRecord& record, PhotoChoice choice,
                 std::string_view ifNoneMatch) const;

 private:
  ObjectStore store_;
};

}  // namespace corvenza::emulator::dashboard
