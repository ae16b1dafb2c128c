#pragma once
// What both JPEG decoders (the whole-picture one and the row-by-row one)
// agree on: how a JPEG stream starts and which DCT scale to decode at.

#include <cstdint>
#include <span>

namespace corvenza::image {

/// True when @p bytes start like a JPEG stream.
inline bool looksLikeJpeg(std::span<const std::uint8_t> b) {
  return b.size() >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF;
}

/// The smallest DCT scale M/8 (returned as M, 1 to 8) that keeps at least
/// @p minimumWidth pixels across @p storedAcross, the stored dimension that
/// becomes the displayed width; 8 (full size) when @p minimumWidth is not
/// positive. Scaled sizes round up, as the decoders round them. Scaling in the
/// DCT domain skips most of the inverse transform and the chroma upsampling,
/// which is where a full-size decode spends its time.
inline int dctScaleEighths(int storedAcross, int minimumWidth) {
  if (minimumWidth <= 0 || storedAcross <= minimumWidth) return 8;
  for (int eighths = 1; eighths < 8; ++eighths) {
    const long long scaled = (static_cast<long long>(storedAcross) * eighths + 7) / 8;
    if (scaled >= minimumWidth) return eighths;
  }
  return 8;
}

}  // namespace corvenza::image
