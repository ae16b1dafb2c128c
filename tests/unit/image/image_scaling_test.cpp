// Geometry of Image::resized and of the photo preparation's scaling rule, and
// the resampler's pixel values.

#include <corvenza/image.h>
#include <gtest/gtest.h>

#include <cmath>

#include "image_test_helpers.h"
#include "platform/image/image_resample.h"
#include "platform/image/photo_preparation.h"

namespace corvenza {
namespace {

using test::kBlue;
using test::kRed;
using test::solid;

// Records what reaches the encoder instead of encoding it.
class RecordingCodec : public image::ImageCodec {
 public:
  mutable int width = 0;
  mutable int height = 0;
  mutable int quality = 0;
  bool failEncode = false;

  detail::Result<image::DecodedImage> decode(std::span<const std::uint8_t>, int) const override {
    return Error(kCorvenzaImageErrorDomain, 2);
  }
  detail::Result<std::vector<std::uint8_t>> encodeJpeg(image::PixelView pixels,
                                                       int q) const override {
    width = pixels.width;
    height = pixels.height;
    quality = q;
    if (failEncode) return Error(kCorvenzaImageErrorDomain, 4);
    return std::vector<std::uint8_t>{0xFF, 0xD8};
  }
};

struct ScalingCase {
  int width, height;
  double scale;
  int expectedWidth, expectedHeight;  // pixels handed to the encoder
};

class UploadScalingTest : public ::testing::TestWithParam<ScalingCase> {};

TEST_P(UploadScalingTest, OnlyWiderThan1080PointsIsScaledAndNeverEnlarged) {
  const auto c = GetParam();
  auto image = Image::fromPixels(c.width, c.height, solid(c.width, c.height, kRed), c.scale);
  ASSERT_TRUE(image);
  RecordingCodec codec;
  auto jpeg = image::prepareJpegForUpload(*image, codec);
  ASSERT_TRUE(jpeg.ok());
  EXPECT_EQ(codec.width, c.expectedWidth);
  EXPECT_EQ(codec.height, c.expectedHeight);
  EXPECT_EQ(codec.quality, 100);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, UploadScalingTest,
    ::testing::Values(ScalingCase{1080, 1920, 1, 1080, 1920},    // exactly 1080: unchanged
                      ScalingCase{1081, 1000, 1, 1080, 1000},    // 999.07 rounds up
                      ScalingCase{4032, 3024, 1, 1080, 810},     // landscape
                      ScalingCase{3024, 4032, 1, 1080, 1440},    // portrait
                      ScalingCase{800, 5000, 1, 800, 5000},      // tall and narrow
                      ScalingCase{500, 300, 1, 500, 300},        // small: never enlarged
                      ScalingCase{2160, 3000, 2, 2160, 3000},    // 1080 points at scale 2
                      ScalingCase{2162, 2000, 2, 2160, 2000}));  // 1081 points at scale 2

TEST(UploadScalingTest, EncoderFailureIsReported) {
  auto image = Image::fromPixels(1200, 10, solid(1200, 10, kRed));
  RecordingCodec codec;
  codec.failEncode = true;
  auto jpeg = image::prepareJpegForUpload(*image, codec);
  ASSERT_FALSE(jpeg.ok());
  EXPECT_EQ(jpeg.error().domain(), kCorvenzaImageErrorDomain);
}

TEST(ImageResizedTest, HeightIsRoundedUpAndScaleKept) {
  auto image = Image::fromPixels(1081, 1000, solid(1081, 1000, kRed));
  auto scaled = image->resized(1080);
  ASSERT_TRUE(scaled);
  EXPECT_EQ(scaled->pixelWidth(), 1080);
  EXPECT_EQ(scaled->pixelHeight(), 1000);

  auto retina = Image::fromPixels(300, 200, solid(300, 200, kRed), 3.0);  // 100 x 66.67 points
  auto half = retina->resized(50);
  ASSERT_TRUE(half);
  EXPECT_DOUBLE_EQ(half->scale(), 3.0);
  EXPECT_DOUBLE_EQ(half->width(), 50);
  EXPECT_DOUBLE_EQ(half->height(), 34);  // 33.33 points rounded up
  EXPECT_EQ(half->pixelHeight(), 102);
}

TEST(ImageResizedTest, EnlargesWhenAskedAndRejectsNonsense) {
  auto image = Image::fromPixels(10, 5, solid(10, 5, kBlue));
  auto big = image->resized(40);
  ASSERT_TRUE(big);
  EXPECT_EQ(big->pixelWidth(), 40);
  EXPECT_EQ(big->pixelHeight(), 20);
  EXPECT_FALSE(image->resized(0));
  EXPECT_FALSE(image->resized(-3));
  EXPECT_FALSE(image->resized(std::nan("")));
  EXPECT_FALSE(image->resized(1e9));  // far too many pixels
}

// A flat picture stays exactly flat whichever way it is scaled: weights that do
// not add up to one would tint it.
TEST(ResampleTest, FlatColourSurvivesEveryDirection) {
  image::PixelBuffer flat{37, 23, solid(37, 23, {200, 100, 7})};
  for (auto [w, h] : {std::pair{10, 7}, {36, 23}, {37, 40}, {100, 3}, {1, 1}, {37, 23}}) {
    auto out = image::resample(flat.view(), w, h);
    ASSERT_EQ(out.width, w);
    ASSERT_EQ(out.height, h);
    for (std::size_t i = 0; i < out.rgb.size(); i += 3) {
      ASSERT_EQ(out.rgb[i], 200) << w << "x" << h;
      ASSERT_EQ(out.rgb[i + 1], 100);
      ASSERT_EQ(out.rgb[i + 2], 7);
    }
  }
}

// Shrinking averages areas: a one-pixel checkerboard halved is mid grey
// everywhere, where dropping pixels would give black or white.
TEST(ResampleTest, ShrinkingAveragesInsteadOfDropping) {
  image::PixelBuffer board{64, 64, std::vector<std::uint8_t>(64 * 64 * 3)};
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x)
      for (int c = 0; c < 3; ++c) board.rgb[(y * 64 + x) * 3 + c] = (x + y) % 2 ? 255 : 0;
  auto out = image::resample(board.view(), 32, 32);
  for (auto v : out.rgb) ASSERT_NEAR(v, 128, 1);
  // A non-integer ratio still covers every source pixel exactly once.
  auto odd = image::resample(board.view(), 27, 21);
  double sum = 0;
  for (auto v : odd.rgb) sum += v;
  EXPECT_NEAR(sum / static_cast<double>(odd.rgb.size()), 127.5, 2);
}

TEST(ResampleTest, EnlargingInterpolatesBetweenNeighbours) {
  image::PixelBuffer two{2, 1, {0, 0, 0, 200, 200, 200}};
  auto out = image::resample(two.view(), 8, 1);
  ASSERT_EQ(out.rgb.size(), 24u);
  EXPECT_EQ(out.rgb[0], 0);  // ends keep their colours
  EXPECT_EQ(out.rgb[21], 200);
  for (int x = 1; x < 8; ++x) EXPECT_GE(out.rgb[x * 3], out.rgb[(x - 1) * 3]);  // a ramp
  EXPECT_GT(out.rgb[4 * 3], 0);
  EXPECT_LT(out.rgb[3 * 3], 200);
}

TEST(ResampleTest, RejectsInvalidSizes) {
  image::PixelBuffer p{4, 4, solid(4, 4, kRed)};
  EXPECT_TRUE(image::resample(p.view(), 0, 4).empty());
  EXPECT_TRUE(image::resample(p.view(), 4, -1).empty());
  image::PixelBuffer shortBuffer{4, 4, std::vector<std::uint8_t>(10)};
  EXPECT_TRUE(image::resample(shortBuffer.view(), 2, 2).empty());
}

}  // namespace
}  // namespace corvenza
