#pragma once
// EXIF orientation: how a stored picture must be turned to appear as taken.

#include <cstdint>
#include <span>

#include "core/result.h"
#include "platform/image/image_pixels.h"

namespace corvenza::image {

/// The eight EXIF orientation values (tag 0x0112).
enum class Orientation : std::uint8_t {
  up = 1,             ///< as stored
  upMirrored = 2,     ///< mirrored left to right
  down = 3,           ///< turned 180 degrees
  downMirrored = 4,   ///< mirrored top to bottom
  leftMirrored = 5,   ///< transposed (mirrored across the main diagonal)
  right = 6,          ///< stored 90 degrees counter-clockwise: turn 90 clockwise
  rightMirrored = 7,  ///< transversed (mirrored across the other diagonal)
  left = 8,           ///< stored 90 degrees clockwise: turn 90 counter-clockwise
};

/// True for the orientations whose displayed width is the stored height.
constexpr bool swapsAxes(Orientation o) noexcept { return static_cast<int>(o) >= 5; }

/// Reads the orientation from the EXIF block (APP1) of a JPEG stream.
/// Returns `up` when the stream has no EXIF block or no orientation tag or an
/// out-of-range value; returns an error when the EXIF block itself is
/// malformed (offsets or counts pointing outside it). Never reads past @p jpeg.
detail::Result<Orientation> readJpegOrientation(std::span<const std::uint8_t> jpeg);

/// Parses a TIFF structure (the body of an EXIF block after "Exif\0\0") and
/// returns its IFD0 orientation, `up` when absent.
detail::Result<Orientation> readTiffOrientation(std::span<const std::uint8_t> tiff);

/// Returns @p pixels turned so that they appear as taken.
PixelBuffer applyOrientation(PixelBuffer pixels, Orientation orientation);

}  // namespace corvenza::image
