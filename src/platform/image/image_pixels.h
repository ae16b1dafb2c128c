#pragma once
// A plain buffer of 8-bit RGB pixels, rows top to bottom, no padding: the
// currency of the decoder, the resampler and the encoder.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace corvenza::image {

/// Borrowed pixels of the same layout.
struct PixelView {
  int width = 0;
  int height = 0;
  std::span<const std::uint8_t> rgb;

  bool valid() const noexcept {
    return width > 0 && height > 0 &&
           rgb.size() == static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3;
  }
};

struct PixelBuffer {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;

  bool empty() const noexcept { return width <= 0 || height <= 0 || rgb.empty(); }
  std::size_t stride() const noexcept { return static_cast<std::size_t>(width) * 3; }
  PixelView view() const noexcept { return {width, height, rgb}; }
};

/// Largest pixel count we agree to allocate for one picture: 256 megapixels,
/// above the largest phone sensors, about 800 MB of RGB. Guards against small
/// files whose headers claim huge sizes.
inline constexpr std::int64_t kMaxPixelCount = std::int64_t{1} << 28;

}  // namespace corvenza::image
