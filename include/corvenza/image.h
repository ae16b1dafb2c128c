#pragma once
/// @file
/// Image: a decoded picture, the library's platform image type, and the
/// preparation of a photo for upload.

#include <corvenza/error.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace corvenza {

/// Domain of the errors of decoding, scaling and encoding pictures.
inline constexpr const char* kCorvenzaImageErrorDomain = "CorvenzaImageError";

/// Codes of the "CorvenzaImageError" domain.
enum class ImageErrorCode {
  unreadableFile = 1,  ///< the file is missing or cannot be read
  undecodable = 2,     ///< the data is not a complete JPEG or PNG picture
  scalingFailed = 3,   ///< scaling yielded no picture
  encodingFailed = 4,  ///< JPEG encoding yielded no data
};

/// Photos wider than this many points are scaled down to it before upload.
inline constexpr double kUploadPhotoWidth = 1080;

/// A decoded picture as the person sees it (EXIF orientation applied), held
/// as 8-bit RGB pixels. Its size in points is its pixel size divided by its
/// scale factor; pictures decoded from files or bytes have scale factor 1, so
/// their points are pixels. Immutable after construction; share it freely
/// across threads.
class Image {
 public:
  /// Wraps @p rgb (width * height * 3 bytes, rows top to bottom).
  /// Returns nothing when the sizes do not match or are zero.
  static std::shared_ptr<const Image> fromPixels(int pixelWidth, int pixelHeight,
                                                 std::vector<std::uint8_t> rgb, double scale = 1.0);
  /// Decodes a JPEG or PNG file at full resolution and turns it as its EXIF
  /// orientation says. On failure returns nothing and, when given, sets
  /// @p error (domain "CorvenzaImageError"). Runs on the caller's thread.
  static std::shared_ptr<const Image> fromFile(const std::filesystem::path& path,
                                               Error* error = nullptr);
  /// fromFile(path) followed by resized(maximumWidth) when the picture is
  /// wider, at a fraction of the cost: only as many pixels as the result
  /// needs are decoded, so a 12-megapixel photo never exists in memory at
  /// full size. Passing kUploadPhotoWidth gives a photo the create chain
  /// uploads without scaling it again. Also fails (code scalingFailed) when
  /// @p maximumWidth is below one.
  static std::shared_ptr<const Image> fromFile(const std::filesystem::path& path,
                                               double maximumWidth, Error* error = nullptr);
  /// Decodes JPEG or PNG bytes, as fromFile.
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

  /// A copy @p width points wide at the same scale factor; its height in
  /// points is width / own width × own height (division first), rounded up.
  /// Shrinking averages areas, enlarging interpolates. Nothing when @p width
  /// is not positive or the result would be unreasonably large.
  std::shared_ptr<const Image> resized(double width) const;
  /// JPEG bytes at @p quality from 0 (smallest) to 1 (best), 4:2:0 chroma.
  /// Empty on failure.
  std::vector<std::uint8_t> jpegData(double quality) const;

  Image(int pixelWidth, int pixelHeight, std::vector<std::uint8_t> rgb, double scale);

 private:
  int pixelWidth_;
  int pixelHeight_;
  double scale_;
  std::vector<std::uint8_t> rgb_;
};

/// A photo ready for upload: JPEG bytes and their size in pixels.
struct PreparedPhoto {
  std::vector<std::uint8_t> jpeg;
  int pixelWidth = 0;
  int pixelHeight = 0;
};

/// Prepares the photo file at @p path exactly as the create chain prepares a
/// photo: turned as its EXIF orientation says, scaled to 1080 points wide when
/// it is wider (never enlarged), encoded as JPEG at quality 1.0. Decodes only
/// as many pixels as the result needs, so it is much cheaper than fromFile
/// followed by resized and jpegData, with the same result size. On failure
/// returns nothing and, when given, sets @p error (domain
/// "CorvenzaImageError"). Runs on the caller's thread; thread-safe.
std::optional<PreparedPhoto> preparePhotoForUpload(const std::filesystem::path& path,
                                                   Error* error = nullptr);

}  // namespace corvenza
