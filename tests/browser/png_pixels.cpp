#include "browser/png_pixels.h"

#include <png.h>

#include <algorithm>
#include <set>

namespace corvenza::test {

std::optional<Pixels> decodePng(const std::string& png) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) return std::nullopt;
  image.format = PNG_FORMAT_RGBA;
  Pixels pixels;
  pixels.width = static_cast<int>(image.width);
  pixels.height = static_cast<int>(image.height);
  pixels.rgba.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.rgba.data(), 0, nullptr)) {
    png_image_free(&image);
    return std::nullopt;
  }
  return pixels;
}

int distinctColours(const Pixels& pixels, const Region& region) {
  const int left = std::max(region.x, 0);
  const int top = std::max(region.y, 0);
  const int right = std::min(region.x + region.width, pixels.width);
  const int bottom = std::min(region.y + region.height, pixels.height);
  std::set<int> colours;
  for (int y = top; y < bottom; ++y) {
    for (int x = left; x < right; ++x) {
      const auto* p = &pixels.rgba[(static_cast<std::size_t>(y) * pixels.width + x) * 4];
      colours.insert((p[0] >> 4) << 8 | (p[1] >> 4) << 4 | (p[2] >> 4));
    }
  }
  return static_cast<int>(colours.size());
}

}  // namespace corvenza::test
