// Decoding real photo files, the fast upload path, and inputs that are not
// pictures.

#include <corvenza/image.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string_view>

#include "image_test_helpers.h"
#include "platform/image/image_codec.h"
#include "platform/image/photo_preparation.h"
#include "testkit/temp_dir.h"

namespace corvenza {
namespace {

using test::photoPath;

std::string readAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::shared_ptr<const Image> decodeJpeg(const std::vector<std::uint8_t>& jpeg) {
  return Image::fromData(jpeg);
}

// Mean absolute difference per channel between two pictures of one size.
double meanAbsoluteDifference(const Image& a, const Image& b) {
  EXPECT_EQ(a.rgb().size(), b.rgb().size());
  double sum = 0;
  for (std::size_t i = 0; i < a.rgb().size(); ++i) sum += std::abs(a.rgb()[i] - b.rgb()[i]);
  return sum / static_cast<double>(a.rgb().size());
}

TEST(PhotoFileTest, PortraitPhotoStoredSidewaysIsTurnedThenScaled) {
  Error error("", 0);
  auto front = Image::fromFile(photoPath("front-4032x3024-exif6.jpg"), &error);
  ASSERT_TRUE(front) << error.localizedDescription();
  EXPECT_EQ(front->width(), 3024);
  EXPECT_EQ(front->height(), 4032);
  EXPECT_EQ(front->scale(), 1.0);

  // The general path and the fast file path agree on size and, closely, on pixels.
  auto slow = image::prepareJpegForUpload(*front);
  ASSERT_TRUE(slow.ok());
  auto fast = image::preparePhotoFile(photoPath("front-4032x3024-exif6.jpg"));
  ASSERT_TRUE(fast.ok()) << fast.error().localizedDescription();
  EXPECT_EQ(fast->width, 1080);
  EXPECT_EQ(fast->height, 1440);
  auto slowImage = decodeJpeg(*slow);
  auto fastImage = decodeJpeg(fast->bytes);
  ASSERT_TRUE(slowImage && fastImage);
  EXPECT_EQ(slowImage->pixelWidth(), fastImage->pixelWidth());
  EXPECT_EQ(slowImage->pixelHeight(), fastImage->pixelHeight());
  EXPECT_LT(meanAbsoluteDifference(*slowImage, *fastImage), 4.0);

  // Loading at the upload width gives the same picture the chain would make.
  auto fitting = Image::fromFile(photoPath("front-4032x3024-exif6.jpg"), kUploadPhotoWidth, &error);
  ASSERT_TRUE(fitting) << error.localizedDescription();
  auto resized = front->resized(kUploadPhotoWidth);
  ASSERT_TRUE(resized);
  EXPECT_EQ(fitting->pixelWidth(), resized->pixelWidth());
  EXPECT_EQ(fitting->pixelHeight(), resized->pixelHeight());
  EXPECT_LT(meanAbsoluteDifference(*fitting, *resized), 4.0);
}

TEST(PhotoFileTest, LoadingAtAWidthScalesOnlyWiderPhotosAndRejectsNonsenseWidths) {
  struct Case {
    const char* name;
    double maximumWidth;
    int width, height;
  };
  for (auto c :
       {Case{"side-3024x4032.jpg", 756, 756, 1008}, Case{"edge-1081x1000.jpg", 1080, 1080, 1000},
        Case{"edge-1081x1000.jpg", 1081, 1081, 1000}, Case{"small-800x1200.png", 1080, 800, 1200},
        Case{"small-800x1200.png", 400, 400, 600}}) {
    Error error("", 0);
    auto image = Image::fromFile(photoPath(c.name), c.maximumWidth, &error);
    ASSERT_TRUE(image) << c.name << ": " << error.localizedDescription();
    EXPECT_EQ(image->pixelWidth(), c.width) << c.name << " at " << c.maximumWidth;
    EXPECT_EQ(image->pixelHeight(), c.height) << c.name << " at " << c.maximumWidth;
  }
  for (double width : {0.0, 0.5, -1.0, std::nan("")}) {
    Error error("", 0);
    EXPECT_FALSE(Image::fromFile(photoPath("side-3024x4032.jpg"), width, &error)) << width;
    EXPECT_EQ(error.code(), static_cast<int>(ImageErrorCode::scalingFailed)) << width;
  }
}

TEST(PhotoFileTest, FastPathKeepsTheScalingRuleForEveryPhoto) {
  struct Case {
    const char* name;
    int width, height;
  };
  for (auto c : {Case{"side-3024x4032.jpg", 1080, 1440}, Case{"edge-1081x1000.jpg", 1080, 1000},
                 Case{"small-800x1200.png", 800, 1200}}) {
    Error error("", 0);
    auto photo = preparePhotoForUpload(photoPath(c.name), &error);
    ASSERT_TRUE(photo) << c.name << ": " << error.localizedDescription();
    EXPECT_EQ(photo->pixelWidth, c.width) << c.name;
    EXPECT_EQ(photo->pixelHeight, c.height) << c.name;
    auto decoded = decodeJpeg(photo->jpeg);  // the bytes really are a JPEG of that size
    ASSERT_TRUE(decoded) << c.name;
    EXPECT_EQ(decoded->pixelWidth(), c.width);
    EXPECT_EQ(decoded->pixelHeight(), c.height);
  }
}

TEST(PhotoFileTest, PngIsDecodedAtFullSize) {
  auto png = Image::fromFile(photoPath("small-800x1200.png"));
  ASSERT_TRUE(png);
  EXPECT_EQ(png->pixelWidth(), 800);
  EXPECT_EQ(png->pixelHeight(), 1200);
}

TEST(JpegEncodingTest, BestQualityRoundTripsSizeAndColours) {
  std::vector<std::uint8_t> gradient;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x)
      gradient.insert(gradient.end(),
                      {static_cast<std::uint8_t>(x * 6), static_cast<std::uint8_t>(y * 8), 120});
  auto image = Image::fromPixels(40, 30, gradient);
  const auto best = image->jpegData(1.0);
  const auto worst = image->jpegData(0.0);
  ASSERT_FALSE(best.empty());
  ASSERT_FALSE(worst.empty());
  EXPECT_LT(worst.size(), best.size());
  auto back = decodeJpeg(best);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->pixelWidth(), 40);
  EXPECT_EQ(back->pixelHeight(), 30);
  EXPECT_LT(meanAbsoluteDifference(*image, *back), 3.0);
}

// The upload's Huffman tables are made for the photo: the same pixels come
// back as from the encoder's standard tables, in fewer bytes.
TEST(JpegEncodingTest, UploadsDecodeToTheStandardTablesPixelsInFewerBytes) {
  auto photo = image::preparePhotoFile(photoPath("side-3024x4032.jpg"));
  ASSERT_TRUE(photo) << photo.error().localizedDescription();
  const auto pixels = decodeJpeg(photo->bytes);
  ASSERT_TRUE(pixels);
  tjhandle encoder = tjInitCompress();
  unsigned char* standard = nullptr;
  unsigned long standardSize = 0;
  ASSERT_EQ(
      tjCompress2(encoder, pixels->rgb().data(), pixels->pixelWidth(), 0, pixels->pixelHeight(),
                  TJPF_RGB, &standard, &standardSize, TJSAMP_420, 100, 0),
      0);
  tjDestroy(encoder);
  const auto ours = image::defaultImageCodec().encodeJpeg(
      {pixels->pixelWidth(), pixels->pixelHeight(), pixels->rgb()}, 100);
  ASSERT_TRUE(ours);
  const auto theirs = decodeJpeg(std::vector<std::uint8_t>(standard, standard + standardSize));
  const auto back = decodeJpeg(*ours);
  tjFree(standard);
  ASSERT_TRUE(theirs && back);
  EXPECT_LT(ours->size(), standardSize * 97 / 100);
  EXPECT_TRUE(std::equal(back->rgb().begin(), back->rgb().end(), theirs->rgb().begin(),
                         theirs->rgb().end()));
}

TEST(MalformedInputTest, NonPicturesAreErrors) {
  std::mt19937 random(7);
  std::vector<std::uint8_t> noise(4096);
  for (auto& b : noise) b = static_cast<std::uint8_t>(random());
  std::vector<std::uint8_t> jpegNoise = noise;  // a JPEG signature with garbage after it
  jpegNoise[0] = 0xFF;
  jpegNoise[1] = 0xD8;
  jpegNoise[2] = 0xFF;
  std::vector<std::uint8_t> pngNoise = noise;
  const std::uint8_t signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::copy(std::begin(signature), std::end(signature), pngNoise.begin());

  for (const auto& bytes : {std::vector<std::uint8_t>{}, noise, jpegNoise, pngNoise}) {
    Error error("", 0);
    EXPECT_FALSE(Image::fromData(bytes, &error));
    EXPECT_EQ(error.domain(), kCorvenzaImageErrorDomain);
    EXPECT_EQ(error.code(), static_cast<int>(ImageErrorCode::undecodable));
  }
}

// A 69-byte PNG that declares 20000 x 20000 pixels is refused from its header,
// before gigabytes are set aside for its pixels.
TEST(MalformedInputTest, AHugeDeclaredSizeIsRefusedBeforeDecoding) {
  const std::vector<std::uint8_t> bomb = {
      0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48,
      0x44, 0x52, 0x00, 0x00, 0x4e, 0x20, 0x00, 0x00, 0x4e, 0x20, 0x08, 0x02, 0x00, 0x00,
      0x00, 0x6c, 0x12, 0xd1, 0x6e, 0x00, 0x00, 0x00, 0x0c, 0x49, 0x44, 0x41, 0x54, 0x78,
      0x9c, 0x63, 0x60, 0xa0, 0x3d, 0x00, 0x00, 0x00, 0x64, 0x00, 0x01, 0x86, 0x64, 0x3c,
      0x35, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};
  Error error("", 0);
  EXPECT_FALSE(Image::fromData(bomb, &error));
  EXPECT_NE(error.localizedDescription().find("20000 x 20000 pixels"), std::string::npos)
      << error.localizedDescription();
}

// Cut at every interesting place: inside the headers, inside the EXIF block,
// mid-scan and just before the end marker. Run under ASan to catch over-reads.
TEST(MalformedInputTest, TruncatedPhotoFilesAreErrorsAndWriteNothing) {
  test::TempDir dir;
  for (const char* name :
       {"edge-1081x1000.jpg", "front-4032x3024-exif6.jpg", "small-800x1200.png"}) {
    const std::string whole = readAll(photoPath(name));
    ASSERT_GT(whole.size(), 1000u) << name;
    std::vector<std::size_t> cuts = {0, 2, 20, 300, whole.size() / 2, whole.size() * 9 / 10};
    // A PNG without its closing chunks is still a whole picture; a JPEG is not.
    if (std::string_view(name).ends_with(".jpg")) cuts.push_back(whole.size() - 2);
    for (std::size_t cut : cuts) {
      const auto path = dir.write("cut.bin", whole.substr(0, cut));
      Error error("", 0);
      EXPECT_FALSE(Image::fromFile(path, &error)) << name << " cut at " << cut;
      EXPECT_EQ(error.domain(), kCorvenzaImageErrorDomain);
      EXPECT_FALSE(Image::fromFile(path, kUploadPhotoWidth)) << name << " cut at " << cut;
      auto prepared = image::prepareJpegFileForUpload(path);
      EXPECT_FALSE(prepared.ok()) << name << " cut at " << cut;
    }
  }
}

TEST(MalformedInputTest, MissingFileIsUnreadable) {
  Error error("", 0);
  EXPECT_FALSE(preparePhotoForUpload("/nonexistent/photo.jpg", &error));
  EXPECT_EQ(error.code(), static_cast<int>(ImageErrorCode::unreadableFile));
  EXPECT_FALSE(Image::fromFile(std::filesystem::temp_directory_path(), &error));  // a directory
  EXPECT_EQ(error.code(), static_cast<int>(ImageErrorCode::unreadableFile));
}

TEST(MalformedInputTest, FilesThatAreNoPhotosAreRefusedBeforeTheyAreRead) {
  test::TempDir dir;
  const auto fifo = dir.path() / "fifo.jpg";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const auto huge = dir.path() / "huge.jpg";  // sparse: no disk, but 3 GB long
  { std::ofstream(huge, std::ios::binary) << "\xFF\xD8\xFF"; }
  std::filesystem::resize_file(huge, std::uint64_t{3} << 30);
  const auto text = dir.write("notes.jpg", std::string(1 << 20, 'x'));

  struct Case {
    std::filesystem::path path;
    ImageErrorCode code;
  };
  for (const auto& [path, code] :
       {Case{fifo, ImageErrorCode::unreadableFile}, Case{huge, ImageErrorCode::unreadableFile},
        Case{text, ImageErrorCode::undecodable}}) {
    SCOPED_TRACE(path);
    Error error("", 0);
    EXPECT_FALSE(Image::fromFile(path, kUploadPhotoWidth, &error));
    EXPECT_EQ(error.code(), static_cast<int>(code));
    EXPECT_FALSE(Image::fromFile(path, &error));
    EXPECT_FALSE(preparePhotoForUpload(path, &error));
    EXPECT_EQ(error.code(), static_cast<int>(code));
  }
}

}  // namespace
}  // namespace corvenza
