#pragma once
// Resampling of RGB pixels to a new size.

#include "platform/device/image_pixels.h"

namespace corvenza::device {

/// Returns @p in resampled to @p width x @p height pixels. Each axis is
/// handled on its own: an axis that shrinks is area-averaged (every source
/// pixel contributes in proportion to the part of it an output pixel covers,
/// so no detail is dropped and no blockiness appears); an axis that grows is
/// interpolated bilinearly. Returns an empty buffer when a size is not
/// positive or too large.
PixelBuffer resample(PixelView in, int width, int height);

}  // namespace corvenza::device
