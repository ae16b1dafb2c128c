// Presigned download links: their query parameters, their 900-second life
// and that the server side accepts them exactly that long.

#include "platform/storage/presigned_url_builder.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/sigv4/encoding.h"
#include "sigv4_verifier.h"
#include "storage_fakes.h"

namespace corvenza::test {
namespace {

using namespace std::chrono_literals;

// 2024-01-02T03:04:05Z
const std::chrono::system_clock::time_point kSigningTime{1704164645s};

std::map<std::string, std::string> queryOf(const std::string& url) {
  std::map<std::string, std::string> parameters;
  std::string_view query = std::string_view(url).substr(url.find('?') + 1);
  while (!query.empty()) {
    const auto amp = query.find('&');
    const auto pair = query.substr(0, amp);
    const auto eq = pair.find('=');
    parameters[std::string(pair.substr(0, eq))] = std::string(pair.substr(eq + 1));
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return parameters;
}

storage::PresignedURLBuilder builder(std::shared_ptr<identity::CredentialsSource> credentials =
                                         std::make_shared<FixedCredentials>(sessionCredentials())) {
  storage::PresignedURLBuilderOptions options;
  options.environment = [](const char*) -> std::optional<std::string> { return std::nullopt; };
  options.now = [] { return kSigningTime; };
  return storage::PresignedURLBuilder({AWSRegionType::APNortheast1, std::move(credentials)},
                                      options);
}

sigv4::Verification verifyAt(const std::string& url, std::chrono::system_clock::time_point now) {
  auto parts = sigv4::splitUrl(url);
  EXPECT_TRUE(parts);
  sigv4::ReceivedRequest request;
  request.method = "GET";
  request.target = parts->path + "?" + parts->query;
  request.headers = {{"Host", parts->host}};
  sigv4::VerifierOptions options;
  options.storageRules = true;
  options.normalizePath = false;
  options.service = "s3";
  options.lookup = [](std::string_view) { return std::optional(sessionCredentials()); };
  return sigv4::verifyRequest(request, options, now);
}

TEST(PresignedURLBuilderTest, LinkIsAGetForTheObjectValidFor900SecondsWithTheSessionToken) {
  const auto url = builder().getPresignedURL("photos", "I/abc/front image.jpg");
  ASSERT_TRUE(url);
  EXPECT_EQ(url->substr(0, url->find('?')),
            "https://photos.s3.ap-northeast-1.amazonaws.com/I/abc/front%20image.jpg");
  const auto query = queryOf(*url);
  EXPECT_EQ(query.at("X-Amz-Algorithm"), "AWS4-HMAC-SHA256");
  EXPECT_EQ(query.at("X-Amz-Expires"), "900");
  EXPECT_EQ(query.at("X-Amz-SignedHeaders"), "host");
  EXPECT_EQ(query.at("X-Amz-Date"), "20240102T030405Z");
  EXPECT_EQ(query.at("X-Amz-Credential"),
            "ASIAEXAMPLEKEY%2F20240102%2Fap-northeast-1%2Fs3%2Faws4_request");
  EXPECT_EQ(query.at("X-Amz-Security-Token"), sigv4::uriEncode(sessionCredentials().sessionToken));
  EXPECT_EQ(query.at("X-Amz-Signature").size(), 64u);

  EXPECT_TRUE(verifyAt(*url, kSigningTime + 899s).ok());
  EXPECT_EQ(verifyAt(*url, kSigningTime + 901s).status, sigv4::VerificationStatus::expired);
}

TEST(PresignedURLBuilderTest, LifetimeFollowsTheRequest) {
  storage::PresignedURLRequest request{"photos", "k", "GET", 60s};
  const auto shortLived = builder().getPresignedURL(request).wait(std::optional(5s));
  ASSERT_TRUE(shortLived && *shortLived);
  EXPECT_EQ(queryOf(shortLived->value()).at("X-Amz-Expires"), "60");
}

class NoCredentials final : public identity::CredentialsSource {
 public:
  dispatch::Task<sigv4::Credentials> getCredentials() override {
    return dispatch::Task<sigv4::Credentials>::failed(Error("Identity", 7, std::nullopt, "none"));
  }
};

TEST(PresignedURLBuilderTest, AnyFailureGivesNoLink) {
  EXPECT_FALSE(builder(std::make_shared<NoCredentials>()).getPresignedURL("photos", "k"));
  EXPECT_FALSE(builder(nullptr).getPresignedURL("photos", "k"));
  EXPECT_FALSE(builder().getPresignedURL("photos", ""));
}

}  // namespace
}  // namespace corvenza::test
