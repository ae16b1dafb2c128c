#pragma once
// Real thumbnails for the estimator: a stored photo scaled down and stored
// beside it, with the original's encryption headers and owner.

#include <filesystem>

#include "estimation/estimator.h"

namespace corvenza::emulator {

/// Width of a thumbnail, in pixels; narrower photos keep their width.
inline constexpr double kThumbnailWidth = 240;

/// A thumbnail maker over the objects under @p objectsRoot. It answers
/// nothing (and the estimator then points at the original) when the source
/// is missing, not a decodable image or declares more than kMaxPicturePixels
/// (see bounded_picture.h), or memory runs out.
estimation::Estimator::ThumbnailMaker makeThumbnailMaker(std::filesystem::path objectsRoot);

}  // namespace corvenza::emulator
