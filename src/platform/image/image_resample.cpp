#include "platform/image/image_resample.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "platform/image/large_buffer.h"

namespace corvenza::image {

namespace {

// Weights are 14-bit fixed point so the inner loops stay in integers.
constexpr int kWeightBits = 14;
constexpr int kWeightOne = 1 << kWeightBits;

// For one axis: output index i reads taps source[first[i] .. first[i] + taps),
// with weights weight[i * taps + k] adding up to kWeightOne.
struct AxisFilter {
  int taps = 0;
  std::vector<int> first;
  std::vector<std::int32_t> weight;
};

AxisFilter areaFilter(int in, int out) {
  const double ratio = static_cast<double>(in) / out;
  AxisFilter f;
  f.taps = static_cast<int>(std::ceil(ratio)) + 1;
  f.first.resize(out);
  f.weight.assign(static_cast<std::size_t>(out) * f.taps, 0);
  std::vector<double> w(f.taps);
  for (int i = 0; i < out; ++i) {
    const double begin = i * ratio;
    const double end = std::min<double>(in, (i + 1) * ratio);
    const int first = std::min(in - 1, static_cast<int>(begin));
    double sum = 0;
    for (int k = 0; k < f.taps; ++k) {
      const int j = first + k;
      const double overlap = j < in ? std::min<double>(j + 1, end) - std::max<double>(j, begin) : 0;
      w[k] = std::max(0.0, overlap);
      sum += w[k];
    }
    f.first[i] = first;
    for (int k = 0; k < f.taps; ++k) w[k] /= sum;
    std::int32_t total = 0;
    int heaviest = 0;
    for (int k = 0; k < f.taps; ++k) {
      auto& q = f.weight[static_cast<std::size_t>(i) * f.taps + k];
      q = static_cast<std::int32_t>(std::lround(w[k] * kWeightOne));
      total += q;
      if (w[k] > w[heaviest]) heaviest = k;
    }
    // Rounding must not brighten or darken a flat area.
    f.weight[static_cast<std::size_t>(i) * f.taps + heaviest] += kWeightOne - total;
  }
  return f;
}

AxisFilter bilinearFilter(int in, int out) {
  const double ratio = static_cast<double>(in) / out;
  AxisFilter f;
  f.taps = 2;
  f.first.resize(out);
  f.weight.resize(static_cast<std::size_t>(out) * 2);
  for (int i = 0; i < out; ++i) {
    // Pixel centres line up: output centre i + 0.5 maps to source (i + 0.5) * ratio.
    const double x = std::clamp((i + 0.5) * ratio - 0.5, 0.0, static_cast<double>(in - 1));
    int first = static_cast<int>(x);
    if (first >= in - 1) first = std::max(0, in - 2);
    const double t = std::clamp(x - first, 0.0, 1.0);
    const auto w1 = static_cast<std::int32_t>(std::lround(t * kWeightOne));
    f.first[i] = first;
    f.weight[static_cast<std::size_t>(i) * 2] = kWeightOne - w1;
    f.weight[static_cast<std::size_t>(i) * 2 + 1] = in > 1 ? w1 : 0;
  }
  return f;
}

// Moves windows that would reach past the last source pixel back inside it,
// shifting their weights along, so the inner loops need no bounds checks.
void keepInside(AxisFilter& f, int in) {
  const std::size_t out = f.first.size();
  if (f.taps > in) {
    // Only possible for tiny sources: one window covering the whole source.
    AxisFilter whole;
    whole.taps = in;
    whole.first.assign(out, 0);
    whole.weight.assign(out * in, 0);
    for (std::size_t i = 0; i < out; ++i) {
      for (int k = 0; k < f.taps; ++k) {
        const int j = std::min(f.first[i] + k, in - 1);
        whole.weight[i * in + j] += f.weight[i * f.taps + k];
      }
    }
    f = std::move(whole);
    return;
  }
  for (std::size_t i = 0; i < f.first.size(); ++i) {
    const int shift = f.first[i] + f.taps - in;
    if (shift <= 0) continue;
    std::int32_t* w = f.weight.data() + i * f.taps;
    for (int k = f.taps - 1; k >= 0; --k) w[k] = k >= shift ? w[k - shift] : 0;
    f.first[i] -= shift;
  }
}

AxisFilter filterFor(int in, int out) {
  AxisFilter f = out < in ? areaFilter(in, out) : bilinearFilter(in, out);
  keepInside(f, in);
  return f;
}

template <int Taps>
void horizontalRow(const std::uint8_t* src, const AxisFilter& f, int outWidth, std::uint8_t* dst) {
  const int taps = Taps > 0 ? Taps : f.taps;
  const std::int32_t* w = f.weight.data();
  for (int x = 0; x < outWidth; ++x, w += taps, dst += 3) {
    const std::uint8_t* p = src + static_cast<std::size_t>(f.first[x]) * 3;
    std::int32_t r = kWeightOne >> 1, g = r, b = r;
    for (int k = 0; k < taps; ++k, p += 3) {
      r += w[k] * p[0];
      g += w[k] * p[1];
      b += w[k] * p[2];
    }
    dst[0] = static_cast<std::uint8_t>(std::clamp(r >> kWeightBits, 0, 255));
    dst[1] = static_cast<std::uint8_t>(std::clamp(g >> kWeightBits, 0, 255));
    dst[2] = static_cast<std::uint8_t>(std::clamp(b >> kWeightBits, 0, 255));
  }
}

// One source row to one output row; the common window sizes get unrolled loops.
void horizontalRowAnyTaps(const std::uint8_t* src, const AxisFilter& f, int outWidth,
                          std::uint8_t* dst) {
  switch (f.taps) {
    case 2:
      horizontalRow<2>(src, f, outWidth, dst);
      break;
    case 3:
      horizontalRow<3>(src, f, outWidth, dst);
      break;
    case 4:
      horizontalRow<4>(src, f, outWidth, dst);
      break;
    default:
      horizontalRow<0>(src, f, outWidth, dst);
      break;
  }
}

// Output row y of a column-wise pass: the weighted sum of a few source rows.
void verticalRow(PixelView in, const AxisFilter& f, int y, std::vector<std::int32_t>& acc,
                 std::uint8_t* dst) {
  const std::size_t stride = static_cast<std::size_t>(in.width) * 3;
  std::fill(acc.begin(), acc.end(), kWeightOne >> 1);
  const std::int32_t* w = f.weight.data() + static_cast<std::size_t>(y) * f.taps;
  for (int k = 0; k < f.taps; ++k) {
    if (w[k] == 0) continue;
    const std::int32_t weight = w[k];
    const std::uint8_t* src = in.rgb.data() + stride * (f.first[y] + k);
    std::int32_t* a = acc.data();
    for (std::size_t i = 0; i < stride; ++i) a[i] += weight * src[i];
  }
  for (std::size_t i = 0; i < stride; ++i) {
    dst[i] = static_cast<std::uint8_t>(std::clamp(acc[i] >> kWeightBits, 0, 255));
  }
}

// Resamples every row from in.width to width pixels.
PixelBuffer horizontal(PixelView in, int width) {
  const AxisFilter f = filterFor(in.width, width);
  PixelBuffer out{width, in.height, {}};
  resizeLargeBuffer(out.rgb, out.stride() * in.height);
  const std::size_t inStride = static_cast<std::size_t>(in.width) * 3;
  for (int y = 0; y < in.height; ++y) {
    horizontalRowAnyTaps(in.rgb.data() + inStride * y, f, width, out.rgb.data() + out.stride() * y);
  }
  return out;
}

// Resamples every column from in.height to height pixels, a whole row at a time.
PixelBuffer vertical(PixelView in, int height) {
  const AxisFilter f = filterFor(in.height, height);
  PixelBuffer out{in.width, height, {}};
  const std::size_t stride = static_cast<std::size_t>(in.width) * 3;
  resizeLargeBuffer(out.rgb, stride * height);
  std::vector<std::int32_t> acc(stride);
  for (int y = 0; y < height; ++y) verticalRow(in, f, y, acc, out.rgb.data() + stride * y);
  return out;
}

}  // namespace

PixelBuffer resample(PixelView in, int width, int height) {
  if (!in.valid() || width <= 0 || height <= 0) return {};
  if (static_cast<std::int64_t>(width) * height > kMaxPixelCount) return {};
  if (width == in.width && height == in.height) {
    return {width, height, std::vector<std::uint8_t>(in.rgb.begin(), in.rgb.end())};
  }
  if (width == in.width) return vertical(in, height);
  if (height == in.height) return horizontal(in, width);
  // Shrink across rows first when narrowing so the intermediate picture stays small.
  if (width <= in.width) return vertical(horizontal(in, width).view(), height);
  return horizontal(vertical(in, height).view(), width);
}

PixelBuffer resampleOriented(PixelView in, Orientation orientation, int width, int height) {
  if (!in.valid() || width <= 0 || height <= 0) return {};
  if (static_cast<std::int64_t>(width) * height > kMaxPixelCount) return {};
  if (!swapsAxes(orientation)) {
    return applyOrientation(resample(in, width, height), orientation);
  }
  // Stored rows become displayed columns: first bring the stored height (the
  // displayed width) to `width`, turn, then bring the rows to `height`.
  PixelBuffer narrowed = in.height == width
                             ? PixelBuffer{in.width, in.height, {in.rgb.begin(), in.rgb.end()}}
                             : vertical(in, width);
  PixelBuffer turned = applyOrientation(std::move(narrowed), orientation);
  if (turned.height == height) return turned;
  return vertical(turned.view(), height);
}

struct RowResampler::Filters {
  int inWidth;
  int inHeight;
  int outWidth;
  AxisFilter columns;  // source rows -> output rows
  AxisFilter rows;     // source columns -> output columns
  std::vector<std::int32_t> acc;
  std::vector<std::uint8_t> between;  // one row after the column pass
};

RowResampler::RowResampler(int inWidth, int inHeight, int outWidth, int outHeight) {
  if (inWidth <= 0 || inHeight <= 0 || outWidth <= 0 || outHeight <= 0) return;
  filters_ = std::make_unique<Filters>(Filters{inWidth,
                                               inHeight,
                                               outWidth,
                                               filterFor(inHeight, outHeight),
                                               filterFor(inWidth, outWidth),
                                               {},
                                               {}});
  filters_->acc.resize(static_cast<std::size_t>(inWidth) * 3);
  filters_->between.resize(static_cast<std::size_t>(inWidth) * 3);
}

RowResampler::~RowResampler() = default;

bool RowResampler::valid() const noexcept { return filters_ != nullptr; }

int RowResampler::sourceRowsNeeded(int y) const {
  return std::min(filters_->inHeight, filters_->columns.first[y] + filters_->columns.taps);
}

void RowResampler::resampleRow(PixelView in, int y, std::uint8_t* out) {
  Filters& f = *filters_;
  verticalRow(in, f.columns, y, f.acc, f.between.data());
  horizontalRowAnyTaps(f.between.data(), f.rows, f.outWidth, out);
}

}  // namespace corvenza::image
