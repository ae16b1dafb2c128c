// Object storage end to end: the library's transfer utility, object manager
// and presigned links against the emulator's storage service, signed with
// credentials that its identity service issued.

#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <iterator>
#include <nlohmann/json.hpp>

#include "emulator_caller.h"
#include "emulator_http_client.h"
#include "platform/http/http_transport.h"
#include "platform/storage/presigned_url_builder.h"
#include "platform/storage/s3_object_manager.h"
#include "platform/storage/storage_error.h"
#include "testkit/emulator_process.h"
#include "testkit/fixed_credentials.h"
#include "testkit/temp_dir.h"

namespace corvenza::test {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

struct Outcome {
  bool success = false;
  std::optional<Error> error;
};

std::string readAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class StorageIntegrationTest : public ::testing::Test {
 protected:
  using SignedIn = EmulatorCaller;

  static void SetUpTestSuite() {
    emulator_ = std::make_unique<EmulatorProcess>(CORVENZA_EMULATOR_PATH);
    if (!emulator_->ok()) return;
    auto user = signIn("storage-user");
    identityId_ = std::move(user.identityId);
    credentials_ = std::move(user.credentials);
  }
  static void TearDownTestSuite() { emulator_.reset(); }

  // A token from the authentication service, traded for credentials.
  static SignedIn signIn(const std::string& userId) { return signInToEmulator(*emulator_, userId); }

  void SetUp() override {
    ASSERT_TRUE(emulator_->ok()) << emulator_->error();
    ASSERT_FALSE(credentials_.accessKeyId.empty()) << emulator_->log();
    bucket_ = emulator_->endpoint("bucket");
    kmsKeyId_ = emulator_->endpoint("kms_key_id");
    ASSERT_FALSE(bucket_.empty());
    ASSERT_FALSE(kmsKeyId_.empty());

    manager_ = managerFor(credentials_);
  }

  std::shared_ptr<storage::S3ObjectManager> managerFor(const sigv4::Credentials& credentials) {
    storage::TransferUtilityOptions options;
    options.environment = environment();
    options.transport = http::sharedTransport();
    auto utility = std::make_shared<storage::TransferUtility>(configuration(credentials), options);
    return std::make_shared<storage::S3ObjectManager>(
        utility, [this] { return kmsKeyId_; }, dispatch::defaultExecutor());
  }

  static detail::EnvironmentLookup environment() {
    return [s3 = emulator_->endpoint("s3")](const char* name) -> std::optional<std::string> {
      if (std::string_view(name) == "AWS_ENDPOINT_URL_S3") return s3;
      return std::nullopt;
    };
  }
  static identity::ServiceConfiguration configuration(const sigv4::Credentials& credentials) {
    return {AWSRegionType::APNortheast1, std::make_shared<FixedCredentials>(credentials)};
  }
  static storage::PresignedURLBuilder builder(
      std::function<std::chrono::system_clock::time_point()> now = {},
      const sigv4::Credentials& credentials = credentials_) {
    storage::PresignedURLBuilderOptions options;
    options.environment = environment();
    options.now = std::move(now);
    return storage::PresignedURLBuilder(configuration(credentials), options);
  }

  Outcome upload(const std::string& key, const std::string& content) {
    return upload(*manager_, key, content);
  }
  Outcome upload(storage::S3ObjectManager& manager, const std::string& key,
                 const std::string& content) {
    const auto file = dir_.write("photo.jpg", content);
    std::promise<Outcome> done;
    manager.upload({bucket_, key, "ap-northeast-1", file, "image/jpeg"}, {},
                   [&done](bool success, std::optional<Error> error) {
                     done.set_value({success, std::move(error)});
                   });
    auto future = done.get_future();
    EXPECT_EQ(future.wait_for(30s), std::future_status::ready);
    return future.get();
  }
  std::string key(const std::string& name) const { return identityId_ + "/req-1/" + name; }

  static std::unique_ptr<EmulatorProcess> emulator_;
  static sigv4::Credentials credentials_;
  static std::string identityId_;
  TempDir dir_;
  std::string bucket_;
  std::string kmsKeyId_;
  std::shared_ptr<storage::S3ObjectManager> manager_;
};

std::unique_ptr<EmulatorProcess> StorageIntegrationTest::emulator_;
sigv4::Credentials StorageIntegrationTest::credentials_;
std::string StorageIntegrationTest::identityId_;

TEST_F(StorageIntegrationTest, EncryptedUploadLandsAndReadsBackThroughPresignedLink) {
  const auto stored = upload(key("front image.jpg"), "jpeg bytes \xff\xd8");
  ASSERT_TRUE(stored.success) << (stored.error ? stored.error->localizedDescription() : "");
  EXPECT_FALSE(stored.error);

  const auto link = builder().getPresignedURL(bucket_, key("front image.jpg"));
  ASSERT_TRUE(link);
  const auto response = plainRequest("GET", *link, {});
  EXPECT_EQ(response.status, 200) << response.body;
  EXPECT_EQ(response.body, "jpeg bytes \xff\xd8");
  EXPECT_TRUE(response.hasHeaderLine("Content-Type: image/jpeg"));
  EXPECT_TRUE(response.hasHeaderLine("x-amz-server-side-encryption: aws:kms"));
  EXPECT_TRUE(response.hasHeaderLine("x-amz-server-side-encryption-aws-kms-key-id: " + kmsKeyId_));

  // The emulator keeps who stored it and under which key, beside the bytes.
  const auto sidecar = json::parse(readAll(emulator_->dataDir() / "objects" / ".meta" / bucket_ /
                                           (key("front image.jpg") + ".json")),
                                   nullptr, false);
  EXPECT_EQ(sidecar.value("owner_identity_id", ""), identityId_);
  EXPECT_EQ(sidecar.value("kms_key_id", ""), kmsKeyId_);

  // And the object manager reads it back too.
  const auto copy = dir_.path() / "copy.jpg";
  std::promise<Outcome> done;
  manager_->download(bucket_, key("front image.jpg"), copy,
                     [&done](bool success, std::optional<Error> error) {
                       done.set_value({success, std::move(error)});
                     });
  auto future = done.get_future();
  ASSERT_EQ(future.wait_for(30s), std::future_status::ready);
  EXPECT_TRUE(future.get().success);
  EXPECT_EQ(readAll(copy), "jpeg bytes \xff\xd8");
}

TEST_F(StorageIntegrationTest, UploadUnderAnotherKeyIdIsRefusedAndReachesTheCaller) {
  kmsKeyId_ = "not-the-bucket-key";
  const auto refused = upload(key("side.jpg"), "side");
  EXPECT_FALSE(refused.success);
  ASSERT_TRUE(refused.error);
  EXPECT_EQ(refused.error->domain(), storage::kStorageErrorDomain);
  EXPECT_EQ(refused.error->code(), 403);
  EXPECT_EQ(refused.error->localizedDescription().rfind("AccessDenied", 0), 0u)
      << refused.error->localizedDescription();

  const auto missing = builder().getPresignedURL(bucket_, key("side.jpg"));
  ASSERT_TRUE(missing);
  const auto response = plainRequest("GET", *missing, {});
  EXPECT_EQ(response.status, 404);
  EXPECT_NE(response.body.find("<Code>NoSuchKey</Code>"), std::string::npos) << response.body;
}

TEST_F(StorageIntegrationTest, ExpiredOrTamperedLinksAreRefused) {
  ASSERT_TRUE(upload(key("front.jpg"), "front").success);

  const auto longAgo = builder([] {
                         return std::chrono::system_clock::now() - 901s;
                       }).getPresignedURL(bucket_, key("front.jpg"));
  ASSERT_TRUE(longAgo);
  const auto expired = plainRequest("GET", *longAgo, {});
  EXPECT_EQ(expired.status, 403);
  EXPECT_NE(expired.body.find("<Code>AccessDenied</Code>"), std::string::npos) << expired.body;
  EXPECT_NE(expired.body.find("Request has expired"), std::string::npos) << expired.body;

  auto tampered = *builder().getPresignedURL(bucket_, key("front.jpg"));
  tampered.back() = tampered.back() == '0' ? '1' : '0';
  const auto forged = plainRequest("GET", tampered, {});
  EXPECT_EQ(forged.status, 403);
  EXPECT_NE(forged.body.find("<Code>SignatureDoesNotMatch</Code>"), std::string::npos)
      << forged.body;

  const auto anonymous =
      plainRequest("GET", emulator_->endpoint("s3") + "/" + bucket_ + "/" + key("front.jpg"), {});
  EXPECT_EQ(anonymous.status, 403);
}

TEST_F(StorageIntegrationTest, AnotherIdentitysSignedRequestsCannotReachThisOnesPhotos) {
  ASSERT_TRUE(upload(key("front.jpg"), "mine").success);
  const auto intruder = signIn("storage-intruder");
  ASSERT_FALSE(intruder.credentials.accessKeyId.empty()) << emulator_->log();
  ASSERT_NE(intruder.identityId, identityId_);

  const auto link = builder({}, intruder.credentials).getPresignedURL(bucket_, key("front.jpg"));
  ASSERT_TRUE(link);
  const auto read = plainRequest("GET", *link, {});
  EXPECT_EQ(read.status, 403);
  EXPECT_NE(read.body.find("<Code>AccessDenied</Code>"), std::string::npos) << read.body;

  const auto intruderManager = managerFor(intruder.credentials);
  const auto overwrite = upload(*intruderManager, key("front.jpg"), "theirs");
  EXPECT_FALSE(overwrite.success);
  ASSERT_TRUE(overwrite.error);
  EXPECT_EQ(overwrite.error->code(), 403);
  EXPECT_EQ(overwrite.error->localizedDescription().rfind("AccessDenied", 0), 0u)
      << overwrite.error->localizedDescription();
  // Under its own prefix the same credentials work.
  EXPECT_TRUE(upload(*intruderManager, intruder.identityId + "/req-1/front.jpg", "theirs").success);

  const auto mine = plainRequest("GET", *builder().getPresignedURL(bucket_, key("front.jpg")), {});
  EXPECT_EQ(mine.status, 200);
  EXPECT_EQ(mine.body, "mine");

  const auto elsewhere =
      plainRequest("GET", *builder().getPresignedURL("other-photos", key("front.jpg")), {});
  EXPECT_EQ(elsewhere.status, 404);
  EXPECT_NE(elsewhere.body.find("<Code>NoSuchBucket</Code>"), std::string::npos) << elsewhere.body;
}

}  // namespace
}  // namespace corvenza::test
