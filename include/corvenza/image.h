#pragma once
/// @file
/// Image: a decoded picture, the library's platform image type.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <corvenza/error.h>

namespace corvenza {

/// A decoded picture as the person sees it (EXIF orientation applied), held
/// as 8-bit RGB pixels. Its size in points is its pixel size divided by its
/// scale factor. Immutable after construction; share it freely.
class Image {
 public:
  /// Wraps @p rgb (width * height * 3 bytes, rows top to bottom).
  /// Returns nothing when the sizes do not match or are zero.
  static std::shared_ptr<const Image> fromPixels(int pixelWidth, int pixelHeight,
                                                 std::vector<std::uint8_t> rgb,
                                                 double scale = 1.0);
  /// Decodes a JPEG or PNG file. On failure returns nothing and, when given,
  /// sets @p error.
  static std::shared_ptr<const Image> fromFile(const std::filesystem::path& path,
                                               Error* error = nullptr);
  /// Decodes JPEG or PNG bytes.
  static std::shared_ptr<const Image> fromData(std::span<const std::uint8_t> bytes,
                                               Error* error = nullptr);

  int pixelWidth() const noexcept { return pixelWidth_; }
  int pixelHeight() const noexcept { return pixelHeight_; }
  double scale() const noexcept { return scale_; }
  /// Width in points.
  double width() const noexcept { return pixelWidth_ / scale_; }
  /// Height in points.
  double height() const noexcept { return pixelHeight_ / scale_; }
  const std::vector<std::uint8_t>& rgb() const noexcept { return rgb_; }

  /// A copy scaled to @p width points wide; the height is width / own width ×
  /// own height, rounded up. Nothing when no image can be made.
  std::shared_ptr<const Image> resized(double width) const;
  /// JPEG bytes at @p quality from 0 (smallest) to 1 (best). Empty on failure.
  std::vector<std::uint8_t> jpegData(double quality) const;

  Image(int pixelWidth, int pixelHeight, std::vector<std::uint8_t> rgb, double scale);

 private:
  int pixelWidth_;
  int pixelHeight_;
  double scale_;
  std::vector<std::uint8_t> rgb_;
};

}  // namespace corvenza
