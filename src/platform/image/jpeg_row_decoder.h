#pragma once
// Decoding a JPEG one band of rows at a time, at a reduced DCT scale, so that
// whoever consumes the rows can start while the decoder is still running.

#include <cstdint>
#include <span>

#include "core/result.h"
#include "platform/image/exif_orientation.h"

namespace corvenza::image {

/// Sizes of a JPEG being decoded.
struct JpegRowLayout {
  /// The rows as they will be decoded: stored orientation, reduced scale.
  int width = 0;
  int height = 0;
  /// The picture at full resolution, as taken (after orientation).
  int fullWidth = 0;
  int fullHeight = 0;
  Orientation orientation = Orientation::up;
};

/// Receives the rows of a decode, on the decoding thread.
class JpegRowSink {
 public:
  virtual ~JpegRowSink() = default;
  /// The sizes are known: returns where the width x height x 3 bytes of RGB
  /// rows go (kept until the decode returns), or nullptr to give up.
  virtual std::uint8_t* begin(const JpegRowLayout& layout) = 0;
  /// The rows [0, @p count) are decoded. Called with growing counts.
  virtual void rowsDecoded(int count) = 0;
};

/// Decodes the JPEG @p bytes as RGB rows into @p sink, scaled in the DCT
/// domain by the smallest factor that still leaves at least @p minimumWidth
/// pixels across the picture as taken (no scaling when @p minimumWidth is
/// not positive). Any warning of the decoder (a truncated or corrupt stream)
/// is an error: a grey-filled half picture must not pass for the photo.
/// Errors have domain "CorvenzaImageError". Thread-safe.
detail::Status decodeJpegRows(std::span<const std::uint8_t> bytes, int minimumWidth,
                              JpegRowSink& sink);

}  // namespace corvenza::image
