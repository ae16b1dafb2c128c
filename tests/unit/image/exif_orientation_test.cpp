// Orientation tags: parsing them safely and turning decoded pictures by them.

#include "platform/image/exif_orientation.h"

#include <corvenza/image.h>
#include <gtest/gtest.h>

#include "image_test_helpers.h"

namespace corvenza {
namespace {

using test::kBlue;
using test::kGreen;
using test::kRed;
using test::kWhite;
using test::Rgb;

struct OrientationCase {
  int tag;
  bool bigEndian;
  Rgb topLeft, topRight, bottomLeft;  // as displayed
};

class JpegOrientationTest : public ::testing::TestWithParam<OrientationCase> {};

// The stored picture is 64 x 32 with red, green / blue, white quadrants; the
// expected corners are those of a print of it turned as each tag describes.
TEST_P(JpegOrientationTest, DecodedPictureIsTurnedAsTheTagSays) {
  const auto c = GetParam();
  const auto stored = test::quadrants(64, 32);
  auto jpeg = image::defaultImageCodec().encodeJpeg(stored.view(), 95);
  ASSERT_TRUE(jpeg.ok());
  const auto tagged = test::withExifOrientation(*jpeg, c.tag, c.bigEndian);

  auto orientation = image::readJpegOrientation(tagged);
  ASSERT_TRUE(orientation.ok());
  EXPECT_EQ(static_cast<int>(*orientation), c.tag);

  Error error("", 0);
  auto image = Image::fromData(tagged, &error);
  ASSERT_TRUE(image) << error.localizedDescription();
  const bool turned = c.tag >= 5;
  ASSERT_EQ(image->pixelWidth(), turned ? 32 : 64);
  ASSERT_EQ(image->pixelHeight(), turned ? 64 : 32);
  auto near = [&](int x, int y, Rgb want) {
    const auto* p = &image->rgb()[(static_cast<std::size_t>(y) * image->pixelWidth() + x) * 3];
    return std::abs(p[0] - want.r) < 40 && std::abs(p[1] - want.g) < 40 &&
           std::abs(p[2] - want.b) < 40;
  };
  const int w = image->pixelWidth(), h = image->pixelHeight();
  EXPECT_TRUE(near(2, 2, c.topLeft)) << "tag " << c.tag;
  EXPECT_TRUE(near(w - 3, 2, c.topRight)) << "tag " << c.tag;
  EXPECT_TRUE(near(2, h - 3, c.bottomLeft)) << "tag " << c.tag;
}

INSTANTIATE_TEST_SUITE_P(AllEight, JpegOrientationTest,
                         ::testing::Values(OrientationCase{1, false, kRed, kGreen, kBlue},
                                           OrientationCase{2, false, kGreen, kRed, kWhite},
                                           OrientationCase{3, true, kWhite, kBlue, kGreen},
                                           OrientationCase{4, false, kBlue, kWhite, kRed},
                                           OrientationCase{5, true, kRed, kBlue, kGreen},
                                           OrientationCase{6, false, kBlue, kRed, kWhite},
                                           OrientationCase{7, false, kWhite, kGreen, kBlue},
                                           OrientationCase{8, true, kGreen, kWhite, kRed}));

std::vector<std::uint8_t> tiffHeader(std::uint32_t ifdOffset) {
  return {'I', 'I', 42, 0, static_cast<std::uint8_t>(ifdOffset), 0, 0, 0};
}

TEST(TiffOrientationTest, AbsentOrOutOfRangeMeansUp) {
  auto noEntries = tiffHeader(8);
  noEntries.insert(noEntries.end(), {0, 0, 0, 0, 0, 0});
  EXPECT_EQ(*image::readTiffOrientation(noEntries), image::Orientation::up);

  auto other = tiffHeader(8);  // one entry, but not the orientation tag
  other.insert(other.end(), {1, 0, 0x10, 0x01, 3, 0, 1, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(*image::readTiffOrientation(other), image::Orientation::up);

  auto nine = tiffHeader(8);
  nine.insert(nine.end(), {1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(*image::readTiffOrientation(nine), image::Orientation::up);

  // Without any EXIF block at all.
  const std::vector<std::uint8_t> bare = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x04, 0, 0};
  EXPECT_EQ(*image::readJpegOrientation(bare), image::Orientation::up);
}

TEST(TiffOrientationTest, MalformedBlocksAreErrorsNotReadsPastTheEnd) {
  const std::vector<std::vector<std::uint8_t>> broken = {
      {},                             // empty
      {'I', 'I', 42},                 // header cut short
      {'X', 'X', 42, 0, 8, 0, 0, 0},  // unknown byte order
      {'I', 'I', 43, 0, 8, 0, 0, 0},  // wrong magic
      tiffHeader(200),                // directory beyond the block
      [] {                            // entry count beyond the block
        auto t = tiffHeader(8);
        t.insert(t.end(), {0x50, 0x00, 0x12, 0x01});
        return t;
      }(),
      [] {  // offset near 2^32 must not wrap around
        std::vector<std::uint8_t> t = {'I', 'I', 42, 0, 0xFF, 0xFF, 0xFF, 0xFF};
        return t;
      }(),
  };
  for (const auto& block : broken) {
    auto result = image::readTiffOrientation(block);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().domain(), kCorvenzaImageErrorDomain);
  }
}

// A damaged EXIF block must not cost the photo: the picture is shown as stored.
TEST(TiffOrientationTest, PictureWithDamagedExifStillDecodes) {
  const auto stored = test::quadrants(16, 8);
  auto jpeg = image::defaultImageCodec().encodeJpeg(stored.view(), 90);
  ASSERT_TRUE(jpeg.ok());
  auto tagged = test::withExifOrientation(*jpeg, 6);
  tagged[2 + 4 + 6 + 4] = 0xF0;  // IFD offset now far outside the block
  EXPECT_FALSE(image::readJpegOrientation(tagged).ok());
  auto image = Image::fromData(tagged);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->pixelWidth(), 16);
  EXPECT_EQ(image->pixelHeight(), 8);
}

}  // namespace
}  // namespace corvenza
