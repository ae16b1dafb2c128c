#pragma once
// Pictures clients stored, decoded only when their header declares a size the
// emulator can hold: a PNG of a megabyte may declare 20000 x 20000 pixels,
// more than a gigabyte once decoded.

#include <corvenza/image.h>

#include <cstdint>
#include <memory>
#include <span>

#include "core/result.h"

namespace corvenza::emulator {

/// Most pixels decoded: 50 x 2^20, just above the largest photo a phone takes
/// (8192 x 6144); about 150 MB as RGB.
inline constexpr std::int64_t kMaxPicturePixels = std::int64_t{50} << 20;

inline constexpr const char* kPictureErrorDomain = "EmulatorPictureError";
enum class PictureError { undecodable = 1, tooManyPixels = 2, outOfMemory = 3 };

/// Image::fromData of a picture whose header (read first, without decoding a
/// pixel) declares at most kMaxPicturePixels.
/// Errors of kPictureErrorDomain, coded as PictureError, say why not. Never
/// throws: running out of memory is an error too.
detail::Result<std::shared_ptr<const Image>> decodeBoundedPicture(
    std::span<const std::uint8_t> bytes);

}  // namespace corvenza::emulator
