// Object storage driven directly, with requests signed by credentials issued
// to two identities: who may read and write which keys, which bucket is
// served, and writes the disk cannot hold.

#include "storage/storage_service.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "context/emulator_context.h"
#include "platform/sigv4/encoding.h"
#include "platform/sigv4/signer.h"
#include "testkit/temp_dir.h"

namespace corvenza::emulator {
namespace {

constexpr const char* kAlice = "ap-northeast-1:aaaaaaaa-0000-4000-8000-000000000001";
constexpr const char* kBob = "ap-northeast-1:bbbbbbbb-0000-4000-8000-000000000002";
constexpr const char* kOrigin = "http://127.0.0.1:9";

class StorageServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EmulatorOptions options;
    options.dataDir = dir_.path();
    auto identities = IdentityStore::open(dir_.path() / "identities.sqlite3", options.region);
    ASSERT_TRUE(identities.ok());
    context_ = std::make_unique<EmulatorContext>(options, std::move(*identities), "test-secret");
    service_ = std::make_unique<StorageService>(*context_);
    const auto now = context_->clock.now();
    alice_ = context_->credentials.issue(kAlice, now, now + std::chrono::hours(1));
    bob_ = context_->credentials.issue(kBob, now, now + std::chrono::hours(1));
  }

  std::string url(const std::string& key, const std::string& bucket = {}) const {
    return std::string(kOrigin) + "/s3/" + (bucket.empty() ? bucket_() : bucket) + "/" +
           sigv4::uriEncode(key, /*keepSlash=*/true);
  }
  std::string bucket_() const { return context_->options.bucket; }

  sigv4::SigningParams params(const IssuedCredentials& who) const {
    sigv4::SigningParams params;
    params.region = context_->options.region;
    params.service = "s3";
    params.credentials = {who.accessKeyId, who.secretKey, who.sessionToken, who.expiration};
    params.time = context_->clock.now();
    params.storageRules = true;
    params.normalizePath = false;
    return params;
  }

  Response send(const std::string& method, const std::string& signedUrl, http::HttpHeaders headers,
                std::string body = {}) {
    auto request = makeRequest(method, signedUrl.substr(std::string(kOrigin).size()),
                               std::move(headers), std::move(body));
    request.subpath = request.path.substr(std::string("/s3").size());
    return service_->handle(request);
  }

  Response signedCall(const IssuedCredentials& who, const std::string& method,
                      const std::string& target, http::HttpHeaders headers = {},
                      std::string body = {}) {
    http::HttpRequest request;
    request.method = method;
    request.url = target;
    request.headers = std::move(headers);
    request.body = std::move(body);
    EXPECT_TRUE(sigv4::signRequest(request, params(who)).ok());
    return send(method, request.url, request.headers, request.body);
  }

  Response put(const IssuedCredentials& who, const std::string& key, const std::string& body,
               const std::string& bucket = {}) {
    return signedCall(who, "PUT", url(key, bucket),
                      {{"Content-Type", "image/jpeg"},
                       {"x-amz-server-side-encryption", "aws:kms"},
                       {"x-amz-server-side-encryption-aws-kms-key-id", context_->options.kmsKeyId}},
                      body);
  }
  Response get(const IssuedCredentials& who, const std::string& key,
               const std::string& bucket = {}) {
    return signedCall(who, "GET", url(key, bucket));
  }
  Response head(const IssuedCredentials& who, const std::string& key) {
    return signedCall(who, "HEAD", url(key));
  }
  Response presignedGet(const IssuedCredentials& who, const std::string& key) {
    auto link = sigv4::presignUrl("GET", url(key), params(who), std::chrono::seconds(900));
    EXPECT_TRUE(link.ok());
    return send("GET", *link, {{"Host", "127.0.0.1:9"}});
  }

  static bool hasCode(const Response& response, const std::string& code) {
    return response.body.find("<Code>" + code + "</Code>") != std::string::npos;
  }
  // Whether the object's sidecar is on disk; names too long for it are not.
  bool hasSidecar(const std::string& key) const {
    std::error_code ec;
    return std::filesystem::exists(dir_.path() / "objects" / ".meta" / bucket_() / (key + ".json"),
                                   ec);
  }

  test::TempDir dir_;
  std::unique_ptr<EmulatorContext> context_;
  std::unique_ptr<StorageService> service_;
  IssuedCredentials alice_;
  IssuedCredentials bob_;
};

TEST_F(StorageServiceTest, EachIdentityReadsAndWritesOnlyUnderItsOwnPrefix) {
  const auto photo = std::string(kAlice) + "/req-1/front.jpg";
  ASSERT_EQ(put(alice_, photo, "alice's photo").status, 200);
  EXPECT_EQ(get(alice_, photo).body, "alice's photo");
  EXPECT_EQ(head(alice_, photo).status, 200);
  const auto link = presignedGet(alice_, photo);
  EXPECT_EQ(link.status, 200) << link.body;
  EXPECT_EQ(link.body, "alice's photo");

  const auto read = get(bob_, photo);
  EXPECT_EQ(read.status, 403);
  EXPECT_TRUE(hasCode(read, "AccessDenied")) << read.body;
  EXPECT_EQ(read.body.find("alice's photo"), std::string::npos);
  const auto peek = head(bob_, photo);
  EXPECT_EQ(peek.status, 403);
  EXPECT_TRUE(peek.body.empty());
  EXPECT_EQ(presignedGet(bob_, photo).status, 403);
  // A missing key under another prefix answers the same: nothing tells it apart.
  const auto missing = get(bob_, std::string(kAlice) + "/req-1/side.jpg");
  EXPECT_EQ(missing.status, 403);
  EXPECT_TRUE(hasCode(missing, "AccessDenied")) << missing.body;

  const auto overwrite = put(bob_, photo, "bob's photo");
  EXPECT_EQ(overwrite.status, 403);
  EXPECT_TRUE(hasCode(overwrite, "AccessDenied")) << overwrite.body;
  EXPECT_EQ(put(bob_, std::string(kAlice) + "/req-2/front.jpg", "bob's").status, 403);
  EXPECT_EQ(get(alice_, photo).body, "alice's photo");
  EXPECT_FALSE(hasSidecar(std::string(kAlice) + "/req-2/front.jpg"));

  // The prefix is the whole first segment, and every key needs one.
  for (const auto& key : {std::string("front.jpg"), std::string("shared/front.jpg"),
                          std::string(kBob) + "0/front.jpg", std::string(kBob)}) {
    SCOPED_TRACE(key);
    const auto refused = put(bob_, key, "bob's");
    EXPECT_EQ(refused.status, 403);
    EXPECT_TRUE(hasCode(refused, "AccessDenied")) << refused.body;
    EXPECT_EQ(get(bob_, key).status, 403);
  }
  EXPECT_EQ(put(bob_, std::string(kBob) + "/front.jpg", "bob's").status, 200);
}

TEST_F(StorageServiceTest, OnlyTheConfiguredBucketIsServed) {
  const auto key = std::string(kAlice) + "/req-1/front.jpg";
  const auto stored = put(alice_, key, "photo", "other-bucket");
  EXPECT_EQ(stored.status, 404);
  EXPECT_TRUE(hasCode(stored, "NoSuchBucket")) << stored.body;
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "objects" / "other-bucket"));
  const auto read = get(alice_, key, "other-bucket");
  EXPECT_EQ(read.status, 404);
  EXPECT_TRUE(hasCode(read, "NoSuchBucket")) << read.body;
}

TEST_F(StorageServiceTest, WritesTheDiskCannotHoldAnswerAnErrorAndStoreNothing) {
  const auto prefix = std::string(kAlice) + "/req-1/";
  ASSERT_EQ(put(alice_, prefix + "a/b/c", "deep").status, 200);
  ASSERT_EQ(put(alice_, prefix + "f", "file").status, 200);

  const auto folder = put(alice_, prefix + "a/b", "over a folder");
  EXPECT_EQ(folder.status, 500);
  EXPECT_TRUE(hasCode(folder, "InternalError")) << folder.body;
  EXPECT_NE(folder.body.find("other objects are stored under this key"), std::string::npos);
  EXPECT_EQ(get(alice_, prefix + "a/b").status, 404);
  EXPECT_FALSE(hasSidecar(prefix + "a/b"));
  EXPECT_EQ(get(alice_, prefix + "a/b/c").body, "deep");

  const auto under = put(alice_, prefix + "f/g", "under a file");
  EXPECT_EQ(under.status, 500);
  EXPECT_TRUE(hasCode(under, "InternalError")) << under.body;
  EXPECT_NE(under.body.find("an object is stored under a part of this key"), std::string::npos);
  EXPECT_EQ(get(alice_, prefix + "f/g").status, 404);
  EXPECT_FALSE(hasSidecar(prefix + "f/g"));
  EXPECT_EQ(get(alice_, prefix + "f").body, "file");

  // The sidecar adds ".json" to the last segment, so 251 bytes is already too long.
  for (const std::size_t length : {std::size_t{251}, std::size_t{300}}) {
    SCOPED_TRACE(length);
    const auto key = prefix + std::string(length, 'x');
    const auto tooLong = put(alice_, key, "long");
    EXPECT_EQ(tooLong.status, 400);
    EXPECT_TRUE(hasCode(tooLong, "KeyTooLongError")) << tooLong.body;
    EXPECT_NE(get(alice_, key).status, 200);
    EXPECT_FALSE(hasSidecar(key));
  }
  const auto longest = prefix + std::string(250, 'x');
  EXPECT_EQ(put(alice_, longest, "fits").status, 200);
  EXPECT_EQ(get(alice_, longest).body, "fits");
  const auto overall = put(alice_, prefix + std::string(1024, 'y'), "too long");
  EXPECT_EQ(overall.status, 400);
  EXPECT_TRUE(hasCode(overall, "KeyTooLongError")) << overall.body;
}

}  // namespace
}  // namespace corvenza::emulator
