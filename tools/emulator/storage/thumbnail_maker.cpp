#include "storage/thumbnail_maker.h"

#include <algorithm>
#include <memory>
#include <new>
#include <span>

#include "base/bounded_picture.h"
#include "base/log.h"
#include "storage/object_store.h"

namespace corvenza::emulator {
namespace {

std::optional<estimation::S3Location> storeThumbnail(ObjectStore& store,
                                                     const estimation::S3Location& source,
                                                     const std::string& targetKey) {
  auto original = store.get(source.bucket, source.key);
  if (!original) return std::nullopt;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(original->data.data());
  auto image = decodeBoundedPicture(std::span<const std::uint8_t>(bytes, original->data.size()));
  if (!image) {
    logLine("estimator: no thumbnail: " + image.error().localizedDescription());
    return std::nullopt;
  }
  auto thumbnail = (*image)->resized(std::min(kThumbnailWidth, (*image)->width()));
  if (!thumbnail) return std::nullopt;
  auto jpeg = thumbnail->jpegData(0.8);
  if (jpeg.empty()) return std::nullopt;
  ObjectMetadata metadata = original->metadata;
  metadata.contentType = "image/jpeg";
  auto stored = store.put(source.bucket, targetKey, std::string(jpeg.begin(), jpeg.end()),
                          std::move(metadata));
  if (!stored) return std::nullopt;
  return estimation::S3Location{source.bucket, targetKey, source.region};
}

}  // namespace

estimation::Estimator::ThumbnailMaker makeThumbnailMaker(std::filesystem::path objectsRoot) {
  auto store = std::make_shared<ObjectStore>(std::move(objectsRoot));
  return [store](const estimation::S3Location& source,
                 std::string targetKey) -> std::optional<estimation::S3Location> {
    try {
      return storeThumbnail(*store, source, targetKey);
    } catch (const std::bad_alloc&) {
      logLine("estimator: no thumbnail: out of memory");
      return std::nullopt;
    }
  };
}

}  // namespace corvenza::emulator
