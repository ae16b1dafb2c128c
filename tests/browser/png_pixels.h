#pragma once
// A PNG decoded to RGBA pixels, and a look at whether a region holds a picture.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvenza::test {

struct Pixels {
  int width = 0;
  int height = 0;
  /// 4 bytes a pixel, rows top to bottom.
  std::vector<std::uint8_t> rgba;
};

struct Region {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

/// Nothing unless @p png is a whole PNG image.
std::optional<Pixels> decodePng(const std::string& png);

/// How many different colours (RGB, quantised to 4 bits a channel) the part
/// of @p region inside the image holds: 1 for a flat area, 0 for none.
int distinctColours(const Pixels& pixels, const Region& region);

}  // namespace corvenza::test
