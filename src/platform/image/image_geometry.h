#pragma once
// The scaling rule shared by Image::resized and the photo preparation, so the
// fast file path and the general path agree to the pixel.

#include <cmath>
#include <optional>

#include "platform/image/image_pixels.h"

namespace corvenza::image {

struct PixelSize {
  int width = 0;
  int height = 0;
};

/// Pixel size of a picture of @p width x @p height points at @p scale once
/// scaled to @p targetWidth points: the new height in points is
/// targetWidth / width * height (division first) rounded up, and the pixel
/// size is the point size times the scale, rounded up. Nothing when a size is
/// not positive, not finite or too large.
inline std::optional<PixelSize> resizedPixelSize(double width, double height, double scale,
                                                 double targetWidth) {
  if (!(width > 0) || !(height > 0) || !(scale > 0) || !(targetWidth > 0)) return std::nullopt;
  const double targetHeight = std::ceil(targetWidth / width * height);
  const double pixelWidth = std::ceil(targetWidth * scale);
  const double pixelHeight = std::ceil(targetHeight * scale);
  if (!std::isfinite(pixelWidth) || !std::isfinite(pixelHeight)) return std::nullopt;
  if (pixelWidth * pixelHeight > static_cast<double>(kMaxPixelCount)) return std::nullopt;
  return PixelSize{static_cast<int>(pixelWidth), static_cast<int>(pixelHeight)};
}

}  // namespace corvenza::image
