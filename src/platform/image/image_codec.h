#pragma once
// The platform's image facilities: decoding encoded pictures to pixels and
// encoding pixels as JPEG. The real implementation (JPEG through TurboJPEG,
// PNG through libpng) is the default; tests may pass a fake.

#include <cstdint>
#include <filesystem>
#include <span>
#include <utility>
#include <vector>

#include "core/result.h"
#include "platform/image/exif_orientation.h"
#include "platform/image/image_pixels.h"

namespace corvenza::image {

/// A decoded picture. The pixels stay as stored; `orientation` says how to
/// turn them to show the picture as taken. Turning is left to the caller
/// because it is cheaper after scaling down, and can be merged into it.
struct DecodedImage {
  /// The pixels as stored; possibly fewer than the full size when a width hint
  /// allowed it.
  PixelBuffer pixels;
  Orientation orientation = Orientation::up;
  /// Size of the picture at full resolution, as taken (after orientation).
  int fullWidth = 0;
  int fullHeight = 0;

  /// The pixels turned as the picture was taken.
  PixelBuffer takeOriented() { return applyOrientation(std::move(pixels), orientation); }
};

class ImageCodec {
 public:
  virtual ~ImageCodec() = default;

  /// Decodes JPEG or PNG @p bytes. When @p minimumWidth is positive, the
  /// decoder may return fewer pixels than the full size, but never fewer than
  /// @p minimumWidth across (after orientation) unless the picture itself is
  /// narrower; the aspect ratio is kept up to rounding. Errors have domain
  /// "CorvenzaImageError". Thread-safe.
  virtual detail::Result<DecodedImage> decode(std::span<const std::uint8_t> bytes,
                                              int minimumWidth) const = 0;

  /// Encodes @p pixels as a baseline JPEG at @p quality from 1 (smallest) to 100
  /// (best). Never returns empty bytes: failure is an error. Thread-safe.
  virtual detail::Result<std::vector<std::uint8_t>> encodeJpeg(PixelView pixels,
                                                               int quality) const = 0;
};

/// The TurboJPEG/libpng codec; lives as long as the process.
const ImageCodec& defaultImageCodec();

/// Largest photo file read: far above any camera's JPEG or PNG.
inline constexpr std::uint64_t kMaxImageFileBytes = std::uint64_t{256} << 20;

/// Reads a whole photo file. Errors of domain "CorvenzaImageError", found
/// before the bulk is read: unreadableFile for what is not a regular file
/// (a FIFO or device never blocks the caller) or is over kMaxImageFileBytes,
/// undecodable when the first bytes are not a JPEG's or PNG's.
detail::Result<std::vector<std::uint8_t>> readImageFile(const std::filesystem::path& path);

}  // namespace corvenza::image
