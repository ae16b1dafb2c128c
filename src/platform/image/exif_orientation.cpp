#include "platform/image/exif_orientation.h"

#include <algorithm>
#include <cstring>

#include "platform/image/image_error.h"
#include "platform/image/large_buffer.h"

namespace corvenza::image {

namespace {

constexpr std::uint16_t kOrientationTag = 0x0112;
constexpr std::uint16_t kTypeShort = 3;
constexpr std::uint16_t kTypeLong = 4;

Error corruptExif(const char* what) {
  return makeImageError(ImageErrorCode::undecodable, std::string("Malformed EXIF block: ") + what);
}

// Reads integers of the TIFF block's byte order; every read is checked by the caller.
struct TiffReader {
  std::span<const std::uint8_t> bytes;
  bool bigEndian = false;

  std::uint16_t u16(std::size_t at) const {
    return bigEndian ? static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1])
                     : static_cast<std::uint16_t>(bytes[at + 1] << 8 | bytes[at]);
  }
  std::uint32_t u32(std::size_t at) const {
    const std::uint32_t a = u16(at);
    const std::uint32_t b = u16(at + 2);
    return bigEndian ? (a << 16 | b) : (b << 16 | a);
  }
};

Orientation fromValue(std::uint32_t value) {
  if (value < 1 || value > 8) return Orientation::up;
  return static_cast<Orientation>(value);
}

}  // namespace

detail::Result<Orientation> readTiffOrientation(std::span<const std::uint8_t> tiff) {
  if (tiff.size() < 8) return corruptExif("header too short");
  TiffReader reader{tiff};
  if (tiff[0] == 'M' && tiff[1] == 'M') {
    reader.bigEndian = true;
  } else if (!(tiff[0] == 'I' && tiff[1] == 'I')) {
    return corruptExif("unknown byte order");
  }
  if (reader.u16(2) != 42) return corruptExif("bad magic number");
  const std::uint64_t ifd = reader.u32(4);
  if (ifd + 2 > tiff.size()) return corruptExif("directory outside the block");
  const std::uint64_t count = reader.u16(static_cast<std::size_t>(ifd));
  if (ifd + 2 + count * 12 > tiff.size()) return corruptExif("directory entries outside the block");
  for (std::uint64_t i = 0; i < count; ++i) {
    const auto entry = static_cast<std::size_t>(ifd + 2 + i * 12);
    if (reader.u16(entry) != kOrientationTag) continue;
    const std::uint16_t type = reader.u16(entry + 2);
    if (reader.u32(entry + 4) < 1) return Orientation::up;
    // A short sits left-aligned in the 4-byte value field.
    if (type == kTypeShort) return fromValue(reader.u16(entry + 8));
    if (type == kTypeLong) return fromValue(reader.u32(entry + 8));
    return Orientation::up;
  }
  return Orientation::up;
}

detail::Result<Orientation> readJpegOrientation(std::span<const std::uint8_t> jpeg) {
  if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return Orientation::up;
  std::size_t pos = 2;
  while (pos + 4 <= jpeg.size()) {
    if (jpeg[pos] != 0xFF) return Orientation::up;  // not a marker: leave it to the decoder
    const std::uint8_t marker = jpeg[pos + 1];
    if (marker == 0xFF) {  // fill byte
      ++pos;
      continue;
    }
    if (marker == 0xDA || marker == 0xD9) return Orientation::up;  // image data begins
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
      pos += 2;
      continue;
    }
    const std::size_t length = static_cast<std::size_t>(jpeg[pos + 2] << 8 | jpeg[pos + 3]);
    if (length < 2 || pos + 2 + length > jpeg.size()) return Orientation::up;
    const auto body = jpeg.subspan(pos + 4, length - 2);
    static constexpr std::uint8_t kExifId[] = {'E', 'x', 'i', 'f', 0, 0};
    if (marker == 0xE1 && body.size() >= sizeof kExifId &&
        std::memcmp(body.data(), kExifId, sizeof kExifId) == 0) {
      return readTiffOrientation(body.subspan(sizeof kExifId));
    }
    pos += 2 + length;
  }
  return Orientation::up;
}

PixelBuffer applyOrientation(PixelBuffer in, Orientation orientation) {
  if (orientation == Orientation::up || in.empty()) return in;
  const int w = in.width;
  const int h = in.height;
  PixelBuffer out;
  out.width = swapsAxes(orientation) ? h : w;
  out.height = swapsAxes(orientation) ? w : h;
  resizeLargeBuffer(out.rgb, in.rgb.size());
  // Each output pixel (x, y) reads the stored pixel (sx, sy) = base + x*dx + y*dy,
  // so one loop serves all eight cases.
  int baseX = 0, baseY = 0, xdx = 1, xdy = 0, ydx = 0, ydy = 1;
  switch (orientation) {
    case Orientation::up:
      break;
    case Orientation::upMirrored:
      baseX = w - 1;
      xdx = -1;
      break;
    case Orientation::down:
      baseX = w - 1;
      baseY = h - 1;
      xdx = -1;
      ydy = -1;
      break;
    case Orientation::downMirrored:
      baseY = h - 1;
      ydy = -1;
      break;
    case Orientation::leftMirrored:
      xdx = 0;
      xdy = 1;
      ydx = 1;
      ydy = 0;
      break;
    case Orientation::right:
      baseY = h - 1;
      xdx = 0;
      xdy = -1;
      ydx = 1;
      ydy = 0;
      break;
    case Orientation::rightMirrored:
      baseX = w - 1;
      baseY = h - 1;
      xdx = 0;
      xdy = -1;
      ydx = -1;
      ydy = 0;
      break;
    case Orientation::left:
      baseX = w - 1;
      xdx = 0;
      xdy = 1;
      ydx = -1;
      ydy = 0;
      break;
  }
  const std::ptrdiff_t step =
      (static_cast<std::ptrdiff_t>(xdy) * w + xdx) * 3;  // source step per output x
  const std::uint8_t* src = in.rgb.data();
  std::uint8_t* dst = out.rgb.data();
  if (swapsAxes(orientation)) {
    // A quarter turn reads columns; going down a band of output rows at each x
    // reads along a source row instead, and the band's rows stay in cache.
    constexpr int kBand = 16;
    const std::size_t outStride = out.stride();
    for (int y0 = 0; y0 < out.height; y0 += kBand) {
      const int y1 = std::min(out.height, y0 + kBand);
      for (int x = 0; x < out.width; ++x) {
        const int sy = baseY + x * xdy;
        for (int y = y0; y < y1; ++y) {
          const int sx = baseX + y * ydx;
          const std::uint8_t* s = src + (static_cast<std::ptrdiff_t>(sy) * w + sx) * 3;
          std::uint8_t* d = dst + outStride * y + static_cast<std::size_t>(x) * 3;
          d[0] = s[0];
          d[1] = s[1];
          d[2] = s[2];
        }
      }
    }
    return out;
  }
  for (int y = 0; y < out.height; ++y) {
    const int sx = baseX + y * ydx;
    const int sy = baseY + y * ydy;
    std::ptrdiff_t at = (static_cast<std::ptrdiff_t>(sy) * w + sx) * 3;
    for (int x = 0; x < out.width; ++x, at += step, dst += 3) {
      dst[0] = src[at];
      dst[1] = src[at + 1];
      dst[2] = src[at + 2];
    }
  }
  return out;
}

}  // namespace corvenza::image
