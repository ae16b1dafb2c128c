#include <corvenza/image.h>

#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/image/image_codec.h"
#include "platform/image/image_geometry.h"
#include "platform/image/image_resample.h"
#include "platform/image/photo_preparation.h"

namespace corvenza {

namespace {

std::shared_ptr<const Image> fromDecoded(detail::Result<image::DecodedImage> decoded,
                                         Error* error) {
  if (!decoded) {
    if (error) *error = decoded.error();
    return nullptr;
  }
  auto pixels = decoded->takeOriented();
  return Image::fromPixels(pixels.width, pixels.height, std::move(pixels.rgb));
}

}  // namespace

Image::Image(int pixelWidth, int pixelHeight, std::vector<std::uint8_t> rgb, double scale)
    : pixelWidth_(pixelWidth), pixelHeight_(pixelHeight), scale_(scale), rgb_(std::move(rgb)) {}

std::shared_ptr<const Image> Image::fromPixels(int pixelWidth, int pixelHeight,
                                               std::vector<std::uint8_t> rgb, double scale) {
  if (pixelWidth <= 0 || pixelHeight <= 0 || !(scale > 0)) return nullptr;
  if (rgb.size() != static_cast<std::size_t>(pixelWidth) * pixelHeight * 3) return nullptr;
  return std::make_shared<const Image>(pixelWidth, pixelHeight, std::move(rgb), scale);
}

std::shared_ptr<const Image> Image::fromFile(const std::filesystem::path& path, Error* error) {
  auto bytes = image::readImageFile(path);
  if (!bytes) {
    if (error) *error = bytes.error();
    return nullptr;
  }
  return fromData(*bytes, error);
}

std::shared_ptr<const Image> Image::fromFile(const std::filesystem::path& path, double maximumWidth,
                                             Error* error) {
  auto pixels = image::loadPhotoFitting(path, maximumWidth);
  if (!pixels) {
    if (error) *error = pixels.error();
    return nullptr;
  }
  return fromPixels(pixels->width, pixels->height, std::move(pixels->rgb));
}

std::shared_ptr<const Image> Image::fromData(std::span<const std::uint8_t> bytes, Error* error) {
  return fromDecoded(image::defaultImageCodec().decode(bytes, 0), error);
}

std::shared_ptr<const Image> Image::resized(double width) const {
  const auto size = image::resizedPixelSize(this->width(), height(), scale_, width);
  if (!size) return nullptr;
  auto pixels = image::resample({pixelWidth_, pixelHeight_, rgb_}, size->width, size->height);
  if (pixels.empty()) return nullptr;
  return fromPixels(pixels.width, pixels.height, std::move(pixels.rgb), scale_);
}

std::vector<std::uint8_t> Image::jpegData(double quality) const {
  const double clamped = quality >= 0 ? std::min(quality, 1.0) : 0.0;  // NaN too
  const int jpegQuality = std::max(1, static_cast<int>(std::lround(clamped * 100)));
  auto jpeg = image::defaultImageCodec().encodeJpeg({pixelWidth_, pixelHeight_, rgb_}, jpegQuality);
  if (!jpeg) return {};
  return std::move(*jpeg);
}

std::optional<PreparedPhoto> preparePhotoForUpload(const std::filesystem::path& path,
                                                   Error* error) {
  auto prepared = image::preparePhotoFile(path);
  if (!prepared) {
    if (error) *error = prepared.error();
    return std::nullopt;
  }
  return PreparedPhoto{std::move(prepared->bytes), prepared->width, prepared->height};
}

}  // namespace corvenza
