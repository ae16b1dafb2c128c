#pragma once
// Pictures made in code for the image tests.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/image/image_codec.h"

namespace corvenza::test {

struct Rgb {
  std::uint8_t r, g, b;
};

inline constexpr Rgb kRed{255, 0, 0};
inline constexpr Rgb kGreen{0, 255, 0};
inline constexpr Rgb kBlue{0, 0, 255};
inline constexpr Rgb kWhite{255, 255, 255};

inline std::vector<std::uint8_t> solid(int width, int height, Rgb c) {
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
  for (std::size_t i = 0; i < rgb.size(); i += 3) {
    rgb[i] = c.r;
    rgb[i + 1] = c.g;
    rgb[i + 2] = c.b;
  }
  return rgb;
}

/// Four flat quadrants: red top left, green top right, blue bottom left, white
/// bottom right, so any turn or mirror of the picture is recognisable.
inline image::PixelBuffer quadrants(int width, int height) {
  image::PixelBuffer p{width, height,
                       std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3)};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const bool right = x >= width / 2;
      const bool bottom = y >= height / 2;
      const Rgb c = bottom ? (right ? kWhite : kBlue) : (right ? kGreen : kRed);
      auto* px = &p.rgb[(static_cast<std::size_t>(y) * width + x) * 3];
      px[0] = c.r;
      px[1] = c.g;
      px[2] = c.b;
    }
  }
  return p;
}

/// Inserts an EXIF block (little- or big-endian TIFF) holding only the
/// orientation tag right after the JPEG's start marker.
inline std::vector<std::uint8_t> withExifOrientation(const std::vector<std::uint8_t>& jpeg,
                                                     int orientation, bool bigEndian = false) {
  auto u16 = [&](std::vector<std::uint8_t>& v, int x) {
    if (bigEndian) {
      v.push_back(static_cast<std::uint8_t>(x >> 8));
      v.push_back(static_cast<std::uint8_t>(x));
    } else {
      v.push_back(static_cast<std::uint8_t>(x));
      v.push_back(static_cast<std::uint8_t>(x >> 8));
    }
  };
  auto u32 = [&](std::vector<std::uint8_t>& v, std::uint32_t x) {
    if (bigEndian) {
      u16(v, static_cast<int>(x >> 16));
      u16(v, static_cast<int>(x & 0xFFFF));
    } else {
      u16(v, static_cast<int>(x & 0xFFFF));
      u16(v, static_cast<int>(x >> 16));
    }
  };
  std::vector<std::uint8_t> tiff = {bigEndian ? std::uint8_t{'M'} : std::uint8_t{'I'},
                                    bigEndian ? std::uint8_t{'M'} : std::uint8_t{'I'}};
  u16(tiff, 42);
  u32(tiff, 8);
  u16(tiff, 1);       // one entry
  u16(tiff, 0x0112);  // orientation
  u16(tiff, 3);       // SHORT
  u32(tiff, 1);       // count
  u16(tiff, orientation);
  u16(tiff, 0);  // padding of the value field
  u32(tiff, 0);  // no next directory

  std::vector<std::uint8_t> body = {'E', 'x', 'i', 'f', 0, 0};
  body.insert(body.end(), tiff.begin(), tiff.end());
  const std::size_t length = body.size() + 2;
  std::vector<std::uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
  out.push_back(0xFF);
  out.push_back(0xE1);
  out.push_back(static_cast<std::uint8_t>(length >> 8));
  out.push_back(static_cast<std::uint8_t>(length));
  out.insert(out.end(), body.begin(), body.end());
  out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
  return out;
}

inline std::filesystem::path photoPath(const std::string& name) {
  return std::filesystem::path(CORVENZA_SOURCE_DIR) / "examples" / "photos" / name;
}

}  // namespace corvenza::test
