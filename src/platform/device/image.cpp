#include <corvenza/image.h>

#include <utility>

namespace corvenza {

Image::Image(int pixelWidth, int pixelHeight, std::vector<std::uint8_t> rgb, double scale)
    : pixelWidth_(pixelWidth), pixelHeight_(pixelHeight), scale_(scale), rgb_(std::move(rgb)) {}

std::shared_ptr<const Image> Image::fromPixels(int pixelWidth, int pixelHeight,
                                               std::vector<std::uint8_t> rgb, double scale) {
  if (pixelWidth <= 0 || pixelHeight <= 0 || !(scale > 0)) return nullptr;
  if (rgb.size() != static_cast<std::size_t>(pixelWidth) * pixelHeight * 3) return nullptr;
  return std::make_shared<const Image>(pixelWidth, pixelHeight, std::move(rgb), scale);
}

}  // namespace corvenza
