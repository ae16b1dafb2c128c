#include "dashboard/photo_source.h"

#include <algorithm>
#include <new>
#include <span>
#include <vector>

#include "base/bounded_picture.h"
#include "dashboard/html.h"

namespace corvenza::emulator::dashboard {

std::optional<PhotoChoice> photoChoiceFromName(std::string_view name) {
  if (name == "front.jpg") return PhotoChoice{true, false};
  if (name == "front-thumb.jpg") return PhotoChoice{true, true};
  if (name == "side.jpg") return PhotoChoice{false, false};
  if (name == "side-thumb.jpg") return PhotoChoice{false, true};
  return std::nullopt;
}

Response PhotoSource::serve(const estimation::EstimationRecord& record, PhotoChoice choice,
                            std::string_view ifNoneMatch) const {
  const std::string field = choice.front ? "frontImage" : "sideImage";
  auto location = record.images.find(choice.thumbnail ? field + "Thumb" : field);
  if (location == record.images.end() && choice.thumbnail) location = record.images.find(field);
  if (location == record.images.end()) return plainText(404, "no such photo");
  auto object = store_.get(location->second.bucket, location->second.key);
  if (!object) return plainText(404, "the photo is not in object storage");

  // The stored object's digest names the bytes; the variant names what we make of them.
  auto digest = object->metadata.etag;
  std::erase(digest, '"');
  const auto etag = "\"" + digest + (choice.thumbnail ? "-thumb" : "-full") + "\"";
  if (!ifNoneMatch.empty() && ifNoneMatch == etag) {
    Response notModified;
    notModified.status = 304;
    notModified.headers.emplace_back("ETag", etag);
    return notModified;
  }

  const auto* bytes = reinterpret_cast<const std::uint8_t*>(object->data.data());
  auto decoded = decodeBoundedPicture(std::span<const std::uint8_t>(bytes, object->data.size()));
  if (!decoded) {
    switch (static_cast<PictureError>(decoded.error().code())) {
      case PictureError::tooManyPixels:
        return plainText(422, decoded.error().localizedDescription());
      case PictureError::outOfMemory:
        return plainText(503, decoded.error().localizedDescription());
      case PictureError::undecodable:
        break;
    }
    return plainText(415, "the stored object is not a JPEG or PNG picture");
  }
  std::vector<std::uint8_t> jpeg;
  try {
    auto image = *decoded;
    if (choice.thumbnail && image->width() > kDashboardThumbnailWidth) {
      image = image->resized(kDashboardThumbnailWidth);
    }
    if (image) jpeg = image->jpegData(0.85);
  } catch (const std::bad_alloc&) {
    return plainText(503, "not enough memory to show the photo");
  }
  if (jpeg.empty()) return plainText(415, "the stored object is not a JPEG or PNG picture");

  Response response;
  response.headers.emplace_back("Content-Type", "image/jpeg");
  response.headers.emplace_back("Cache-Control", "no-cache");
  response.headers.emplace_back("ETag", etag);
  response.headers.emplace_back("X-Content-Type-Options", "nosniff");
  response.body.assign(jpeg.begin(), jpeg.end());
  return response;
}

}  // namespace corvenza::emulator::dashboard
