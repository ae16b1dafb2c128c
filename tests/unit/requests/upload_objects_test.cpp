// Preparing a photo for upload: object keys, private temporary files and the
// storage description the attach mutation carries.

#include <corvenza/enterprise.h>
#include <corvenza/image.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>

#include "auth/developer_identity_provider.h"
#include "requests/client_state.h"
#include "requests/file_util.h"
#include "requests/image_upload_input.h"
#include "requests/storage_backed_s3_object_proxy.h"
#include "testkit/client_services.h"
#include "testkit/console_capture.h"
#include "testkit/temp_dir.h"

namespace corvenza::test {
namespace {

using requests::FileUtil;

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
    ::tzset();
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
    ::tzset();
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

unsigned modeOf(const std::filesystem::path& path) {
  struct stat info {};
  EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

std::string readAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::shared_ptr<const Image> picture(int width, int height) {
  return Image::fromPixels(
      width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3, 90));
}

class UploadObjectsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    detail::resetSharedInstanceForTesting();
    requests::ClientSettings settings;
    settings.imageBucketName = "photos";
    settings.imageBucketRegion = "eu-west-1";
    CorvenzaEnterprise::shared().impl().setSettings(settings);
  }
  void TearDown() override { detail::resetSharedInstanceForTesting(); }

  static void signIn(const std::string& identityId) {
    auto provider = std::make_shared<auth::DeveloperAuthenticatedIdentityProvider>(
        AWSRegionType::APNortheast1, "pool", true);
    provider->setIdentityId(identityId);
    changeServices(CorvenzaEnterprise::shared().impl(), [&](requests::ClientServices& s) {
      s.developerIdentityProvider = std::move(provider);
    });
  }
  std::filesystem::path privateDir() const {
    return tmp_.path() / ("corvenza-" + std::to_string(::geteuid()));
  }

  TempDir tmp_;
  ScopedEnv tmpdir_{"TMPDIR", tmp_.path().string()};
  ConsoleCapture console_;
};

TEST_F(UploadObjectsTest, KeyIsIdentityRequestAndFileName) {
  signIn("ap-northeast-1:I");
  EXPECT_EQ(
      FileUtil::generateBucketKeyPathFor(CorvenzaEnterprise::shared().impl(), "abc", "front.jpg"),
      "ap-northeast-1:I/abc/front.jpg");
  EXPECT_EQ(
      FileUtil::generateBucketKeyPathFor(CorvenzaEnterprise::shared().impl(), "abc", "side.jpg"),
      "ap-northeast-1:I/abc/side.jpg");
  EXPECT_FALSE(console_.contains("no cognito identity"));
}

TEST_F(UploadObjectsTest, WithoutIdentityTheKeyIsEmptyAndSaidSo) {
  EXPECT_EQ(
      FileUtil::generateBucketKeyPathFor(CorvenzaEnterprise::shared().impl(), "abc", "front.jpg"),
      "");
  signIn("");
  EXPECT_EQ(
      FileUtil::generateBucketKeyPathFor(CorvenzaEnterprise::shared().impl(), "abc", "front.jpg"),
      "");
  EXPECT_EQ(console_.lines(),
            (std::vector<std::string>{"no cognito identity", "no cognito identity"}));
}

TEST_F(UploadObjectsTest, StampIsTwelveHourClockWithThreeDigitSeconds) {
  ScopedEnv utc("TZ", "UTC");
  // 2024-01-02 15:04:05 UTC
  const std::chrono::system_clock::time_point when{std::chrono::seconds(1704207845)};
  EXPECT_EQ(FileUtil::timeStamp(when), "202401020304005");
  // Midnight and noon are both hour 12.
  EXPECT_EQ(FileUtil::timeStamp(when - std::chrono::hours(15)), "202401021204005");
}

TEST_F(UploadObjectsTest, TemporaryFilesAreUniquePrivateAndKeepStampAndName) {
  const std::vector<std::uint8_t> first{1, 2, 3};
  const std::vector<std::uint8_t> second{4, 5};
  const auto a = FileUtil::writeTempFile("front.jpg", first);
  const auto b = FileUtil::writeTempFile("front.jpg", second);
  ASSERT_TRUE(a && b);
  EXPECT_NE(*a, *b);
  EXPECT_EQ(readAll(*a), "\x01\x02\x03");
  EXPECT_EQ(readAll(*b), "\x04\x05");
  EXPECT_EQ(a->parent_path(), privateDir());
  EXPECT_EQ(modeOf(privateDir()), 0700u);
  EXPECT_EQ(modeOf(*a), 0600u);
  EXPECT_TRUE(std::regex_match(a->filename().string(),
                               std::regex(R"(\d{15}-owner-[0-9a-f]{16}-[0-9a-f]{16}-front\.jpg)")))
      << *a;
  // A name cannot lead out of the private directory.
  const auto sneaky = FileUtil::writeTempFile("../../evil.jpg", first);
  ASSERT_TRUE(sneaky);
  EXPECT_EQ(sneaky->parent_path(), privateDir());
}

TEST_F(UploadObjectsTest, LooseDirectoryIsTightenedAndForeignOneRefused) {
  std::filesystem::create_directory(privateDir());
  ::chmod(privateDir().c_str(), 0777);
  EXPECT_FALSE(FileUtil::generateTempPathFor("a.jpg").empty());
  EXPECT_EQ(modeOf(privateDir()), 0700u);

  std::filesystem::remove_all(privateDir());
  std::filesystem::create_directory(tmp_.path() / "elsewhere");
  std::filesystem::create_directory_symlink(tmp_.path() / "elsewhere", privateDir());
  EXPECT_EQ(FileUtil::generateTempPathFor("a.jpg"), "");
  requests::StorageBackedS3ObjectProxy proxy("a.jpg", {1}, "image/jpeg");
  EXPECT_FALSE(proxy.localPath());
  EXPECT_TRUE(proxy.storeError());
  EXPECT_FALSE(proxy.generateS3ObjectInput("r", "b", "k"));
}

TEST_F(UploadObjectsTest, ProxyStoresOnConstructionAndDescribesTheUpload) {
  requests::StorageBackedS3ObjectProxy proxy("side.jpg", {7, 8, 9}, "image/jpeg");
  ASSERT_TRUE(proxy.localPath());
  EXPECT_EQ(readAll(*proxy.localPath()), "\x07\x08\x09");
  EXPECT_FALSE(proxy.s3ObjectInput());
  auto input = proxy.generateS3ObjectInput("eu-west-1", "photos", "I/r/side.jpg");
  ASSERT_TRUE(input);
  EXPECT_EQ(input->toJson(), (nlohmann::json{{"bucket", "photos"},
                                             {"key", "I/r/side.jpg"},
                                             {"localUri", *proxy.localPath()},
                                             {"mimeType", "image/jpeg"},
                                             {"region", "eu-west-1"}}));
  proxy.remove();
  EXPECT_FALSE(std::filesystem::exists(*proxy.localPath()));

  // An empty object would upload as an empty photo.
  requests::StorageBackedS3ObjectProxy empty("e.jpg", {}, "image/jpeg");
  EXPECT_FALSE(empty.generateS3ObjectInput("r", "b", "k"));
}

TEST_F(UploadObjectsTest, PhotoIsScaledOnlyWhenWiderThan1080AndStoredAsJpeg) {
  signIn("I");
  struct Case {
    int width, height, expectedWidth, expectedHeight;
  };
  for (const auto& c : {Case{1080, 1920, 1080, 1920}, Case{1081, 1000, 1080, 1000},
                        Case{800, 5000, 800, 5000}, Case{4032, 3024, 1080, 810}}) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    const auto input = requests::prepareImageUploadInput(CorvenzaEnterprise::shared().impl(), "abc",
                                                         *picture(c.width, c.height), true);
    ASSERT_TRUE(input) << input.error().localizedDescription();
    EXPECT_EQ(input->key(), "I/abc/front.jpg");
    EXPECT_EQ(input->bucket(), "photos");
    EXPECT_EQ(input->region(), "eu-west-1");
    EXPECT_EQ(input->mimeType(), "image/jpeg");
    const auto stored = Image::fromFile(input->localUri());
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->pixelWidth(), c.expectedWidth);
    EXPECT_EQ(stored->pixelHeight(), c.expectedHeight);
  }
  const auto side = requests::prepareImageUploadInput(CorvenzaEnterprise::shared().impl(), "abc",
                                                      *picture(10, 10), false);
  ASSERT_TRUE(side);
  EXPECT_EQ(side->key(), "I/abc/side.jpg");
}

TEST_F(UploadObjectsTest, SamePhotoTwiceInOneSecondGetsTwoFiles) {
  signIn("I");
  const auto photo = picture(20, 20);
  const auto a =
      requests::prepareImageUploadInput(CorvenzaEnterprise::shared().impl(), "abc", *photo, true);
  const auto b =
      requests::prepareImageUploadInput(CorvenzaEnterprise::shared().impl(), "abc", *photo, true);
  ASSERT_TRUE(a && b);
  EXPECT_NE(a->localUri(), b->localUri());
  EXPECT_TRUE(std::filesystem::exists(a->localUri()));
  EXPECT_TRUE(std::filesystem::exists(b->localUri()));
}

TEST_F(UploadObjectsTest, PhotoWithoutPixelsIsAnErrorNotAnEmptyUpload) {
  signIn("I");
  const Image hollow(16, 16, {}, 1.0);
  const auto input =
      requests::prepareImageUploadInput(CorvenzaEnterprise::shared().impl(), "abc", hollow, true);
  ASSERT_FALSE(input);
  EXPECT_EQ(input.error().domain(), kCorvenzaImageErrorDomain);
  EXPECT_EQ(input.error().code(), static_cast<int>(ImageErrorCode::undecodable));
  EXPECT_FALSE(std::filesystem::exists(privateDir()) && !std::filesystem::is_empty(privateDir()));
}

}  // namespace
}  // namespace corvenza::test
