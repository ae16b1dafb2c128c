#pragma once
// Resampling of RGB pixels to a new size.

#include "platform/device/exif_orientation.h"
#include "platform/device/image_pixels.h"

namespace corvenza::device {

/// Returns @p in resampled to @p width x @p height pixels. Each axis is
/// handled on its own: an axis that shrinks is area-averaged (every source
/// pixel contributes in proportion to the part of it an output pixel covers,
/// so no detail is dropped and no blockiness appears); an axis that grows is
/// interpolated bilinearly. Returns an empty buffer when a size is not
/// positive or too large.
PixelBuffer resample(PixelView in, int width, int height);

/// Turns the stored pixels @p in as @p orientation says and resamples them to
/// @p width x @p height (sizes as displayed), in the order that touches the
/// fewest pixels: a quarter turn is done between two row-wise passes, so no
/// column-wise pass over interleaved pixels is needed.
PixelBuffer resampleOriented(PixelView in, Orientation orientation, int width, int height);

}  // namespace corvenza::device
