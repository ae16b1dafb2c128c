// Decoding a JPEG band by band and scaling it row by row while it decodes:
// the streamed path must give what the whole-picture path gives.

#include <corvenza/image.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>

#include "image_test_helpers.h"
#include "platform/image/image_codec.h"
#include "platform/image/image_resample.h"
#include "platform/image/jpeg_row_decoder.h"

namespace corvenza::image {
namespace {

class CollectingSink final : public JpegRowSink {
 public:
  std::uint8_t* begin(const JpegRowLayout& l) override {
    layout = l;
    ++begins;
    if (refuse) return nullptr;
    pixels.width = l.width;
    pixels.height = l.height;
    pixels.rgb.assign(pixels.stride() * l.height, 0);
    return pixels.rgb.data();
  }
  void rowsDecoded(int count) override { counts.push_back(count); }

  bool refuse = false;
  int begins = 0;
  JpegRowLayout layout;
  PixelBuffer pixels;
  std::vector<int> counts;
};

std::vector<std::uint8_t> photoBytes(const char* name) {
  return readImageFile(test::photoPath(name)).value();
}

TEST(JpegRowDecoderTest, RowsMatchTheWholePictureDecodeAndArriveInOrder) {
  const auto bytes = photoBytes("front-4032x3024-exif6.jpg");
  CollectingSink sink;
  ASSERT_TRUE(decodeJpegRows(bytes, 1080, sink).ok());
  EXPECT_EQ(sink.begins, 1);
  // Stored sideways: 3/8 of 4032 x 3024 keeps 1134 >= 1080 across as taken.
  EXPECT_EQ(sink.layout.width, 1512);
  EXPECT_EQ(sink.layout.height, 1134);
  EXPECT_EQ(sink.layout.fullWidth, 3024);
  EXPECT_EQ(sink.layout.fullHeight, 4032);
  EXPECT_EQ(sink.layout.orientation, Orientation::right);
  ASSERT_FALSE(sink.counts.empty());
  EXPECT_TRUE(std::is_sorted(sink.counts.begin(), sink.counts.end()));
  EXPECT_EQ(sink.counts.back(), 1134);

  auto whole = defaultImageCodec().decode(bytes, 1080);
  ASSERT_TRUE(whole.ok());
  EXPECT_EQ(whole->pixels.width, sink.pixels.width);
  EXPECT_EQ(whole->pixels.height, sink.pixels.height);
  EXPECT_TRUE(whole->pixels.rgb == sink.pixels.rgb);
}

TEST(JpegRowDecoderTest, DamagedStreamsAndARefusingSinkAreErrors) {
  auto bytes = photoBytes("edge-1081x1000.jpg");
  {
    CollectingSink sink;
    sink.refuse = true;
    auto result = decodeJpegRows(bytes, 0, sink);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code(), static_cast<int>(corvenza::ImageErrorCode::undecodable));
  }
  // Garbage in the middle of the entropy-coded data: a warning, hence an error.
  std::mt19937 random(3);
  for (std::size_t i = bytes.size() / 2; i < bytes.size() / 2 + 64; ++i) {
    bytes[i] = static_cast<std::uint8_t>(random());
  }
  bytes[bytes.size() / 2] = 0xFF;
  bytes[bytes.size() / 2 + 1] = 0xD0 + 5;  // a restart marker out of place
  CollectingSink sink;
  EXPECT_FALSE(decodeJpegRows(bytes, 0, sink).ok());
  CollectingSink empty;
  EXPECT_FALSE(decodeJpegRows({}, 0, empty).ok());
}

PixelBuffer noise(int width, int height) {
  std::mt19937 random(11);
  PixelBuffer p{width, height,
                std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3)};
  for (auto& b : p.rgb) b = static_cast<std::uint8_t>(random());
  return p;
}

// Row by row, the resampler gives resample()'s picture (the two may apply the
// axes in different orders, which moves a value by at most one), and a row
// never reads a source row beyond the ones it says it needs, which is what
// makes scaling while decoding safe.
TEST(RowResamplerTest, RowByRowMatchesTheWholePictureAndReadsOnlyWhatItNeeds) {
  const auto source = noise(97, 61);
  struct Size {
    int width, height;
  };
  for (Size out : {Size{40, 30}, Size{97, 20}, Size{30, 61}, Size{150, 90}, Size{120, 50}}) {
    SCOPED_TRACE(std::to_string(out.width) + " x " + std::to_string(out.height));
    RowResampler rows(source.width, source.height, out.width, out.height);
    ASSERT_TRUE(rows.valid());
    const std::size_t stride = static_cast<std::size_t>(out.width) * 3;
    std::vector<std::uint8_t> streamed(stride * out.height);
    int previous = 0;
    for (int y = 0; y < out.height; ++y) {
      const int needed = rows.sourceRowsNeeded(y);
      EXPECT_GE(needed, previous);
      previous = needed;
      rows.resampleRow(source.view(), y, streamed.data() + stride * y);
      // The rows not yet decoded hold anything at all.
      PixelBuffer partial = source;
      std::fill(partial.rgb.begin() + static_cast<std::ptrdiff_t>(partial.stride() * needed),
                partial.rgb.end(), std::uint8_t{255});
      std::vector<std::uint8_t> row(stride);
      rows.resampleRow(partial.view(), y, row.data());
      EXPECT_TRUE(std::equal(row.begin(), row.end(), streamed.begin() + stride * y)) << y;
    }
    EXPECT_EQ(previous, source.height);
    const auto whole = resample(source.view(), out.width, out.height);
    ASSERT_EQ(whole.rgb.size(), streamed.size());
    int worst = 0;
    for (std::size_t i = 0; i < streamed.size(); ++i) {
      worst = std::max(worst, std::abs(whole.rgb[i] - streamed[i]));
    }
    EXPECT_LE(worst, 1);
  }
  EXPECT_FALSE(RowResampler(0, 10, 5, 5).valid());
  EXPECT_FALSE(RowResampler(10, 10, 5, -1).valid());
}

}  // namespace
}  // namespace corvenza::image
