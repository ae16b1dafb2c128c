#pragma once
// Turning a photo into the JPEG that is uploaded for an estimation request.

#include <corvenza/image.h>

#include <cstdint>
#include <filesystem>
#include <vector>

#include "core/result.h"
#include "platform/image/image_codec.h"

namespace corvenza::image {

/// Photos wider than this many points are scaled down to it before upload.
inline constexpr double kUploadWidth = kUploadPhotoWidth;
/// JPEG quality 1.0, the best, on the codec's 1-100 scale.
inline constexpr int kUploadJpegQuality = 100;

struct PreparedJpeg {
  std::vector<std::uint8_t> bytes;
  int width = 0;   ///< pixels
  int height = 0;  ///< pixels
};

/// Scales @p image to kUploadWidth points when it is wider (only the width is
/// compared; never enlarged) and encodes it as JPEG at the best quality.
/// Errors (domain "CorvenzaImageError") when scaling yields no image or
/// encoding yields no data. Runs on the caller's thread.
detail::Result<std::vector<std::uint8_t>> prepareJpegForUpload(
    const Image& image, const ImageCodec& codec = defaultImageCodec());

/// The photo file at @p path turned as its EXIF orientation says and, when it
/// is wider than @p maximumWidth points, scaled to that width: the geometry of
/// Image::fromFile followed by Image::resized, but decoding only as many
/// pixels as the result needs (DCT-domain scaling for JPEG) and turning the
/// picture after it has been made small. Errors when the file cannot be read
/// or decoded, or when @p maximumWidth is below one.
detail::Result<PixelBuffer> loadPhotoFitting(const std::filesystem::path& path, double maximumWidth,
                                             const ImageCodec& codec = defaultImageCodec());

/// The same result geometry as decoding @p path with Image::fromFile and
/// calling prepareJpegForUpload, but decodes only as many pixels as the
/// upload needs (DCT-domain scaling for JPEG) and turns the picture after it
/// has been made small. Errors when the file cannot be read or decoded.
detail::Result<PreparedJpeg> preparePhotoFile(const std::filesystem::path& path,
                                              const ImageCodec& codec = defaultImageCodec());

/// preparePhotoFile, bytes only.
detail::Result<std::vector<std::uint8_t>> prepareJpegFileForUpload(
    const std::filesystem::path& path, const ImageCodec& codec = defaultImageCodec());

}  // namespace corvenza::image
