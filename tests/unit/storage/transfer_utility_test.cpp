// Addressing, the signed upload and download requests, and how refusals of
// object storage reach the caller.

#include "platform/storage/transfer_utility.h"

#include <gtest/gtest.h>

#include "platform/sigv4/crypto.h"
#include "platform/storage/s3_object_manager.h"
#include "platform/storage/storage_error.h"
#include "storage_fakes.h"
#include "testkit/fake_http_transport.h"
#include "testkit/temp_dir.h"

namespace corvenza::test {
namespace {

using storage::TransferUtility;

detail::EnvironmentLookup environment(std::map<std::string, std::string> values) {
  return [values = std::move(values)](const char* name) -> std::optional<std::string> {
    auto it = values.find(name);
    if (it == values.end()) return std::nullopt;
    return it->second;
  };
}

identity::ServiceConfiguration configuration() {
  return {AWSRegionType::APNortheast1, std::make_shared<FixedCredentials>(sessionCredentials())};
}

TEST(TransferUtilityAddressingTest, VirtualHostedByDefaultPathStyleWithAnOverride) {
  storage::TransferUtilityOptions plain;
  plain.environment = environment({});
  EXPECT_EQ(TransferUtility(configuration(), plain).objectUrl("photos", "I/abc/front.jpg"),
            "https://photos.s3.ap-northeast-1.amazonaws.com/I/abc/front.jpg");

  storage::TransferUtilityOptions global;
  global.environment = environment({{"AWS_ENDPOINT_URL", "http://127.0.0.1:9000"}});
  EXPECT_EQ(TransferUtility(configuration(), global).objectUrl("photos", "k"),
            "http://127.0.0.1:9000/photos/k");

  // The service's own variable wins, and its path prefix is kept.
  storage::TransferUtilityOptions both;
  both.environment = environment({{"AWS_ENDPOINT_URL", "http://127.0.0.1:9000"},
                                  {"AWS_ENDPOINT_URL_S3", "http://127.0.0.1:4566/s3/"}});
  EXPECT_EQ(TransferUtility(configuration(), both).objectUrl("photos", "k"),
            "http://127.0.0.1:4566/s3/photos/k");
}

TEST(TransferUtilityAddressingTest, KeysAreEncodedOnceKeepingSlashes) {
  storage::TransferUtilityOptions options;
  options.environment = environment({});
  const TransferUtility utility(configuration(), options);
  EXPECT_EQ(utility.objectUrl("b", "a b/\xC3\xBC/x+y=z~.jpg"),
            "https://b.s3.ap-northeast-1.amazonaws.com/a%20b/%C3%BC/x%2By%3Dz~.jpg");
  // An already-encoded looking key is data, not an escape.
  EXPECT_EQ(utility.objectUrl("b", "100%25"), "https://b.s3.ap-northeast-1.amazonaws.com/100%2525");
}

class TransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    storage::TransferUtilityOptions options;
    options.transport = transport_;
    options.environment = environment({});
    utility_ = std::make_shared<TransferUtility>(configuration(), options);
    manager_ = std::make_shared<storage::S3ObjectManager>(
        utility_, [this] { return key_; }, executor_);
    photo_ = dir_.write("front.jpg", "jpeg bytes");
  }
  void TearDown() override { transport_->forgetUnanswered(); }

  appsync::S3UploadDescription upload(std::filesystem::path file) const {
    return {"photos", "I/abc/front.jpg", "ap-northeast-1", std::move(file), "image/jpeg"};
  }
  appsync::ObjectCompletion record() {
    return [this](bool success, std::optional<Error> error) {
      ++calls_;
      success_ = success;
      error_ = std::move(error);
    };
  }

  TempDir dir_;
  std::filesystem::path photo_;
  std::string key_ = "arn:aws:kms:ap-northeast-1:111122223333:key/abc";
  std::shared_ptr<FakeHttpTransport> transport_ = FakeHttpTransport::create();
  std::shared_ptr<QueueExecutor> executor_ = std::make_shared<QueueExecutor>();
  std::shared_ptr<TransferUtility> utility_;
  std::shared_ptr<storage::S3ObjectManager> manager_;
  int calls_ = 0;
  bool success_ = false;
  std::optional<Error> error_;
};

TEST_F(TransferTest, UploadIsOneSignedPutWithFixedLengthAndBothEncryptionHeaders) {
  manager_->upload(upload(photo_), {}, record());
  ASSERT_EQ(transport_->requests().size(), 1u);
  const auto request = transport_->requests()[0];
  const auto& headers = request.headers;
  EXPECT_EQ(request.method, "PUT");
  EXPECT_EQ(request.url, "https://photos.s3.ap-northeast-1.amazonaws.com/I/abc/front.jpg");
  EXPECT_EQ(request.bodyFile, photo_);
  EXPECT_EQ(http::findHeader(headers, "Content-Type"), "image/jpeg");
  EXPECT_EQ(http::findHeader(headers, "Content-Length"), "10");
  EXPECT_FALSE(http::findHeader(headers, "Transfer-Encoding"));
  EXPECT_EQ(http::findHeader(headers, "x-amz-server-side-encryption"), "aws:kms");
  EXPECT_EQ(http::findHeader(headers, "x-amz-server-side-encryption-aws-kms-key-id"), key_);
  EXPECT_EQ(http::findHeader(headers, "x-amz-content-sha256"), sigv4::sha256Hex("jpeg bytes"));
  EXPECT_EQ(http::findHeader(headers, "X-Amz-Security-Token"), sessionCredentials().sessionToken);
  EXPECT_EQ(signedHeaders(headers),
            "content-length;content-type;host;x-amz-content-sha256;x-amz-date;"
            "x-amz-security-token;x-amz-server-side-encryption;"
            "x-amz-server-side-encryption-aws-kms-key-id");
  const auto authorization = http::findHeader(headers, "Authorization").value_or("");
  EXPECT_NE(authorization.find("/ap-northeast-1/s3/aws4_request"), std::string::npos)
      << authorization;
}

TEST_F(TransferTest, KeyIdIsReadAtEveryUploadAndEmptyWhenNoneIsConfigured) {
  EXPECT_EQ(http::findHeader(manager_->uploadExpression().requestHeaders,
                             "x-amz-server-side-encryption-aws-kms-key-id"),
            key_);
  key_.clear();
  manager_->upload(upload(photo_), {}, record());
  ASSERT_EQ(transport_->requests().size(), 1u);
  const auto headers = transport_->requests()[0].headers;
  EXPECT_EQ(http::findHeader(headers, "x-amz-server-side-encryption"), "aws:kms");
  EXPECT_EQ(http::findHeader(headers, "x-amz-server-side-encryption-aws-kms-key-id"), "");
  EXPECT_NE(signedHeaders(headers).find("x-amz-server-side-encryption-aws-kms-key-id"),
            std::string::npos);
  EXPECT_TRUE(manager_->downloadExpression().requestHeaders.empty());
}

TEST_F(TransferTest, SuccessfulUploadReportsSuccessExactlyOnce) {
  manager_->upload(upload(photo_), {}, record());
  EXPECT_EQ(calls_, 0);
  transport_->respond(200, "", {{"ETag", "\"abc\""}});
  transport_->deliver();
  transport_->deliver();
  executor_->runAll();
  EXPECT_EQ(calls_, 1);
  EXPECT_TRUE(success_);
  EXPECT_FALSE(error_);
}

TEST_F(TransferTest, UploadAnsweredWithoutAnETagIsNotTakenAsStored) {
  manager_->upload(upload(photo_), {}, record());
  transport_->respond(200, "{\"injected\": \"not an answer");
  transport_->deliver();
  executor_->runAll();
  ASSERT_EQ(calls_, 1);
  EXPECT_FALSE(success_);
  ASSERT_TRUE(error_);
  EXPECT_EQ(error_->domain(), storage::kStorageErrorDomain);
  EXPECT_EQ(error_->code(), storage::kStorageUnconfirmedUpload);
}

TEST_F(TransferTest, RefusalBecomesStorageErrorWithTheServiceCodeAndMessage) {
  manager_->upload(upload(photo_), {}, record());
  transport_->respond(403,
                      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Error><Code>AccessDenied</Code>"
                      "<Message>Access &amp; more</Message><RequestId>R1</RequestId></Error>",
                      {{"Content-Type", "application/xml"}});
  transport_->deliver();
  ASSERT_EQ(calls_, 1);
  EXPECT_FALSE(success_);
  ASSERT_TRUE(error_);
  EXPECT_EQ(error_->domain(), storage::kStorageErrorDomain);
  EXPECT_EQ(error_->code(), 403);
  EXPECT_EQ(error_->localizedDescription(), "AccessDenied: Access & more");
  ASSERT_TRUE(error_->userInfo());
  EXPECT_EQ(error_->userInfo()->at("RequestId"), "R1");

  const auto bare = storage::storageErrorFromResponse({404, {{"x-amz-request-id", "R2"}}, ""});
  EXPECT_EQ(bare.code(), 404);
  EXPECT_EQ(bare.localizedDescription(), "Object storage answered HTTP 404");
  EXPECT_EQ(bare.userInfo()->at("RequestId"), "R2");
}

TEST_F(TransferTest, TransferThatCannotStartFailsThroughTheExecutorNotInline) {
  manager_->upload(upload(dir_.path() / "missing.jpg"), {}, record());
  auto emptyKey = upload(photo_);
  emptyKey.key.clear();
  manager_->upload(emptyKey, {}, record());
  EXPECT_EQ(transport_->requests().size(), 0u);
  EXPECT_EQ(calls_, 0);
  EXPECT_EQ(executor_->runAll(), 2u);
  EXPECT_EQ(calls_, 2);
  EXPECT_FALSE(success_);
  ASSERT_TRUE(error_);
  EXPECT_EQ(error_->domain(), storage::kStorageErrorDomain);
  EXPECT_EQ(error_->code(), storage::kStorageInvalidLocation);
}

TEST_F(TransferTest, DownloadIsAPlainGetAndReportsItsFailure) {
  const auto target = dir_.path() / "copy.jpg";
  manager_->download("photos", "I/abc/side.jpg", target, record());
  ASSERT_EQ(transport_->requests().size(), 1u);
  const auto request = transport_->requests()[0];
  EXPECT_EQ(request.method, "GET");
  EXPECT_EQ(request.responseFile, target);
  EXPECT_FALSE(http::findHeader(request.headers, "x-amz-server-side-encryption"));
  EXPECT_FALSE(http::findHeader(request.headers, "x-amz-server-side-encryption-aws-kms-key-id"));

  transport_->respond(404, "<Error><Code>NoSuchKey</Code><Message>gone</Message></Error>");
  transport_->deliver();
  ASSERT_EQ(calls_, 1);
  EXPECT_FALSE(success_);
  ASSERT_TRUE(error_);
  EXPECT_EQ(error_->localizedDescription(), "NoSuchKey: gone");
}

TEST_F(TransferTest, CancellingReachesTheTransportAndEndsWithTheCancelledError) {
  auto handle = manager_->upload(upload(photo_), {}, record());
  ASSERT_TRUE(handle);
  handle->cancel();
  transport_->deliver();
  EXPECT_EQ(transport_->cancelCount(), 1u);
  ASSERT_EQ(calls_, 1);
  EXPECT_FALSE(success_);
  ASSERT_TRUE(error_);
  EXPECT_EQ(error_->code(), http::kTransportCancelled);
}

TEST_F(TransferTest, UploadProgressReachesTheListenerAboutEveryHundredthAndAtTheEnd) {
  std::vector<std::pair<std::string, std::uint64_t>> heard;
  manager_->upload(
      upload(photo_),
      [&heard](const appsync::S3UploadDescription& object, std::uint64_t sent,
               std::uint64_t total) {
        EXPECT_EQ(total, 1000u);
        heard.emplace_back(object.key, sent);
      },
      record());
  ASSERT_EQ(transport_->requests().size(), 1u);
  const auto sent = [this](std::uint64_t bytes, std::uint64_t total = 1000) {
    transport_->reportProgress(0, {bytes, total, 0, 0});
  };
  sent(0, 0);  // size not known yet: nothing to show
  for (std::uint64_t bytes : {0, 4, 9, 10, 15, 25, 1000, 1000}) sent(bytes);
  sent(300);  // a retried attempt starts again
  std::vector<std::uint64_t> bytes;
  for (const auto& [key, value] : heard) {
    EXPECT_EQ(key, "I/abc/front.jpg");
    bytes.push_back(value);
  }
  EXPECT_EQ(bytes, (std::vector<std::uint64_t>{0, 10, 25, 1000, 300}));
}

}  // namespace
}  // namespace corvenza::test
