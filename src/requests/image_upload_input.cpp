#include "requests/image_upload_input.h"

#include <mutex>

#include "platform/image/image_error.h"
#include "platform/image/photo_preparation.h"
#include "requests/file_util.h"
#include "requests/storage_backed_s3_object_proxy.h"

namespace corvenza::requests {
namespace {

constexpr const char* kMimeType = "image/jpeg";

bool holdsPicture(const Image& image) {
  const auto w = static_cast<std::size_t>(image.pixelWidth() > 0 ? image.pixelWidth() : 0);
  const auto h = static_cast<std::size_t>(image.pixelHeight() > 0 ? image.pixelHeight() : 0);
  return w > 0 && h > 0 && image.scale() > 0 && image.rgb().size() == w * h * 3;
}

}  // namespace

detail::Result<std::filesystem::path> writeUploadPhoto(const Image& image, bool isFront) {
  if (!holdsPicture(image)) {
    return image::makeImageError(ImageErrorCode::undecodable, "The photo holds no picture");
  }
  auto jpeg = image::prepareJpegForUpload(image);
  if (!jpeg) return jpeg.error();
  if (jpeg->empty()) {
    return image::makeImageError(ImageErrorCode::encodingFailed, "JPEG encoding yielded no data");
  }
  StorageBackedS3ObjectProxy object(isFront ? "front.jpg" : "side.jpg", std::move(jpeg.value()),
                                    kMimeType);
  if (object.storeError()) return *object.storeError();
  return std::filesystem::path(*object.localPath());
}

detail::Result<graphql::S3ObjectInput> prepareImageUploadInput(const ClientState& state,
                                                               const std::string& requestId,
                                                               const Image& image, bool isFront) {
  auto file = writeUploadPhoto(image, isFront);
  if (!file) return file.error();
  const auto key =
      FileUtil::generateBucketKeyPathFor(state, requestId, isFront ? "front.jpg" : "side.jpg");
  const auto settings = state.settings();
  return graphql::S3ObjectInput(settings->imageBucketName, key, file->string(), kMimeType,
                                settings->imageBucketRegion);
}

}  // namespace corvenza::requests
