#include "base/bounded_picture.h"

#include <turbojpeg.h>

#include <cstring>
#include <new>
#include <optional>
#include <string>

namespace corvenza::emulator {
namespace {

Error pictureError(PictureError code, std::string description) {
  return Error(kPictureErrorDomain, static_cast<int>(code), std::nullopt, std::move(description));
}

std::int64_t bigEndian32(const std::uint8_t* bytes) {
  return std::int64_t{bytes[0]} << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3];
}

struct PictureSize {
  std::int64_t width = 0;
  std::int64_t height = 0;
};

// The size a JPEG or PNG header declares; nothing for other bytes or an
// unreadable header.
std::optional<PictureSize> declaredPictureSize(std::span<const std::uint8_t> bytes) {
  // A PNG's first chunk is its IHDR, width and height first: libpng reads it
  // from there and so may we, even when the rest is missing.
  static constexpr std::uint8_t kPngStart[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n',
                                               0,    0,   0,   13,  'I',  'H',  'D',  'R'};
  if (bytes.size() >= sizeof kPngStart + 8 &&
      std::memcmp(bytes.data(), kPngStart, sizeof kPngStart) == 0) {
    return PictureSize{bigEndian32(bytes.data() + 16), bigEndian32(bytes.data() + 20)};
  }
  if (bytes.size() < 3 || bytes[0] != 0xFF || bytes[1] != 0xD8 || bytes[2] != 0xFF) {
    return std::nullopt;
  }
  // The JPEG decoder's own reading of the markers, so that both agree.
  const std::unique_ptr<void, int (*)(tjhandle)> handle(tjInitDecompress(), tjDestroy);
  int width = 0, height = 0, subsampling = 0, colorspace = 0;
  if (!handle ||
      tjDecompressHeader3(handle.get(), bytes.data(), static_cast<unsigned long>(bytes.size()),
                          &width, &height, &subsampling, &colorspace) != 0) {
    return std::nullopt;
  }
  return PictureSize{width, height};
}

}  // namespace

detail::Result<std::shared_ptr<const Image>> decodeBoundedPicture(
    std::span<const std::uint8_t> bytes) {
  const auto size = declaredPictureSize(bytes);
  if (!size) return pictureError(PictureError::undecodable, "not a JPEG or PNG picture");
  // Each side first: a PNG's may be near 2^32, and their product overflow.
  if (size->width > kMaxPicturePixels || size->height > kMaxPicturePixels ||
      size->width * size->height > kMaxPicturePixels) {
    return pictureError(PictureError::tooManyPixels,
                        "the picture declares " + std::to_string(size->width) + " x " +
                            std::to_string(size->height) + " pixels, more than the " +
                            std::to_string(kMaxPicturePixels >> 20) + " megapixels decoded here");
  }
  try {
    auto image = Image::fromData(bytes);
    if (!image) {
      return pictureError(PictureError::undecodable, "not a complete JPEG or PNG picture");
    }
    return image;
  } catch (const std::bad_alloc&) {
    return pictureError(PictureError::outOfMemory, "not enough memory to decode the picture");
  }
}

}  // namespace corvenza::emulator
