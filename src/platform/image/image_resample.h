#pragma once
// Resampling of RGB pixels to a new size.

#include <cstdint>
#include <memory>

#include "platform/image/exif_orientation.h"
#include "platform/image/image_pixels.h"

namespace corvenza::image {

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

/// The same resampling as resample(), one output row at a time, for pictures
/// whose rows arrive one band after another (a decoder still running): output
/// row y reads only the source rows below sourceRowsNeeded(y). Each axis is
/// filtered as resample() filters it, columns first. Not thread-safe (it
/// keeps scratch rows); use one per thread.
class RowResampler {
 public:
  /// Nothing usable when a size is not positive: check valid().
  RowResampler(int inWidth, int inHeight, int outWidth, int outHeight);
  ~RowResampler();
  RowResampler(const RowResampler&) = delete;
  RowResampler& operator=(const RowResampler&) = delete;

  bool valid() const noexcept;
  /// How many source rows, counted from the top, output row @p y reads.
  int sourceRowsNeeded(int y) const;
  /// Writes output row @p y (outWidth x 3 bytes) to @p out. @p in is the
  /// whole source picture; only the rows sourceRowsNeeded(y) names are read.
  void resampleRow(PixelView in, int y, std::uint8_t* out);

 private:
  struct Filters;
  std::unique_ptr<Filters> filters_;
};

}  // namespace corvenza::image
