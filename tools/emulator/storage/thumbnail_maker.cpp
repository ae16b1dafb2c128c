#include "storage/thumbnail_maker.h"

#include <corvenza/image.h>

#include <algorithm>
#include <memory>
#include <span>

#include "storage/object_store.h"

namespace corvenza::emulator {

estimation::Estimator::ThumbnailMaker makeThumbnailMaker(std::filesystem::path objectsRoot) {
  auto store = std::make_shared<ObjectStore>(std::move(objectsRoot));
  return [store](const estimation::S3Location& source,
                 std::string targetKey) -> std::optional<estimation::S3Location> {
    auto original = store->get(source.bucket, source.key);
    if (!original) return std::nullopt;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(original->data.data());
    auto image = Image::fromData(std::span<const std::uint8_t>(bytes, original->data.size()));
    if (!image) return std::nullopt;
    auto thumbnail = image->resized(std::min(kThumbnailWidth, image->width()));
    if (!thumbnail) return std::nullopt;
    auto jpeg = thumbnail->jpegData(0.8);
    if (jpeg.empty()) return std::nullopt;
    ObjectMetadata metadata = original->metadata;
    metadata.contentType = "image/jpeg";
    auto stored = store->put(source.bucket, targetKey, std::string(jpeg.begin(), jpeg.end()),
                             std::move(metadata));
    if (!stored) return std::nullopt;
    return estimation::S3Location{source.bucket, targetKey, source.region};
  };
}

}  // namespace corvenza::emulator
