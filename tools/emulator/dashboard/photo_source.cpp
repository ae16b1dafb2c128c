#include "dashboard/photo_source.h"

#include <corvenza/image.h>

#include <algorithm>
#include <span>
#include <vector>

#include "dashboard/html.h"

namespace corvenza::emulator::dashboard {
namespace {}  // namespace

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
  auto image = Image::fromData(std::span<const std::uint8_t>(bytes, object->data.size()));
  if (image && choice.thumbnail && image->width() > kDashboardThumbnailWidth) {
    image = image->resized(kDashboardThumbnailWidth);
  }
  const auto jpeg = image ? image->jpegData(0.85) : std::vector<std::uint8_t>();
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
