#include "platform/device/photo_preparation.h"

#include <cmath>
#include <utility>

#include "platform/device/image_error.h"
#include "platform/device/image_geometry.h"
#include "platform/device/image_resample.h"

namespace corvenza::device {

namespace {

Error scalingFailed() {
  return makeImageError(ImageErrorCode::scalingFailed, "The photo could not be scaled.");
}

}  // namespace

detail::Result<std::vector<std::uint8_t>> prepareJpegForUpload(const Image& image,
                                                               const ImageCodec& codec) {
  std::shared_ptr<const Image> scaled;
  const Image* source = &image;
  if (image.width() > kUploadWidth) {
    scaled = image.resized(kUploadWidth);
    if (!scaled) return scalingFailed();
    source = scaled.get();
  }
  return codec.encodeJpeg({source->pixelWidth(), source->pixelHeight(), source->rgb()},
                          kUploadJpegQuality);
}

detail::Result<PixelBuffer> loadPhotoFitting(const std::filesystem::path& path,
                                             double maximumWidth, const ImageCodec& codec) {
  if (!(maximumWidth >= 1)) return scalingFailed();
  auto bytes = readImageFile(path);
  if (!bytes) return bytes.error();
  // Decoded files have scale factor 1, so points and pixels coincide.
  auto decoded = codec.decode(*bytes, static_cast<int>(std::ceil(maximumWidth)));
  if (!decoded) return decoded.error();
  bytes->clear();
  bytes->shrink_to_fit();  // the encoded input is no longer needed; keep the peak low

  if (decoded->fullWidth <= maximumWidth) return decoded->takeOriented();
  const auto size = resizedPixelSize(decoded->fullWidth, decoded->fullHeight, 1.0, maximumWidth);
  if (!size) return scalingFailed();
  auto pixels =
      resampleOriented(decoded->pixels.view(), decoded->orientation, size->width, size->height);
  if (pixels.empty()) return scalingFailed();
  return pixels;
}

detail::Result<PreparedJpeg> preparePhotoFile(const std::filesystem::path& path,
                                              const ImageCodec& codec) {
  auto pixels = loadPhotoFitting(path, kUploadWidth, codec);
  if (!pixels) return pixels.error();
  auto jpeg = codec.encodeJpeg(pixels->view(), kUploadJpegQuality);
  if (!jpeg) return jpeg.error();
  return PreparedJpeg{std::move(*jpeg), pixels->width, pixels->height};
}

detail::Result<std::vector<std::uint8_t>> prepareJpegFileForUpload(
    const std::filesystem::path& path, const ImageCodec& codec) {
  auto prepared = preparePhotoFile(path, codec);
  if (!prepared) return prepared.error();
  return std::move(prepared->bytes);
}

}  // namespace corvenza::device
