#include "platform/endpoints.h"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <vector>

namespace corvenza::detail {
namespace {

EnvironmentLookup environment(std::map<std::string, std::string> values) {
  return [values = std::move(values)](const char* name) -> std::optional<std::string> {
    auto it = values.find(name);
    if (it == values.end()) return std::nullopt;
    return it->second;
  };
}

TEST(EndpointsTest, IdentityServiceEndpointPrecedence) {
  EXPECT_EQ(cognitoIdentityEndpoint("ap-northeast-1", environment({})),
            "https://cognito-identity.ap-northeast-1.amazonaws.com/");
  EXPECT_EQ(cognitoIdentityEndpoint("cn-north-1", environment({})),
            "https://cognito-identity.cn-north-1.amazonaws.com.cn/");
  EXPECT_EQ(cognitoIdentityEndpoint("us-east-1", environment({{"AWS_ENDPOINT_URL", "http://g"}})),
            "http://g");
  EXPECT_EQ(cognitoIdentityEndpoint(
                "us-east-1", environment({{"AWS_ENDPOINT_URL", "http://g"},
                                          {"AWS_ENDPOINT_URL_COGNITO_IDENTITY", "http://c/"}})),
            "http://c/");
  // An empty variable counts as unset.
  EXPECT_EQ(cognitoIdentityEndpoint("us-east-1",
                                    environment({{"AWS_ENDPOINT_URL", "http://g"},
                                                 {"AWS_ENDPOINT_URL_COGNITO_IDENTITY", ""}})),
            "http://g");
}

TEST(EndpointsTest, ObjectStorageIsVirtualHostedUnlessOverridden) {
  auto regional = s3Endpoint("eu-west-1", environment({}));
  EXPECT_FALSE(regional.pathStyle);
  EXPECT_EQ(regional.bucketUrl("photos"), "https://photos.s3.eu-west-1.amazonaws.com");

  auto global = s3Endpoint("eu-west-1", environment({{"AWS_ENDPOINT_URL", "http://g:1"}}));
  EXPECT_TRUE(global.pathStyle);
  EXPECT_EQ(global.bucketUrl("photos"), "http://g:1/photos");

  auto local = s3Endpoint("eu-west-1",
                          environment({{"AWS_ENDPOINT_URL", "http://g:1"},
                                       {"AWS_ENDPOINT_URL_S3", "http://127.0.0.1:9000/store/"}}));
  EXPECT_EQ(local.scheme, "http");
  EXPECT_EQ(local.host, "127.0.0.1:9000");
  EXPECT_EQ(local.basePath, "/store");
  EXPECT_EQ(local.bucketUrl("photos"), "http://127.0.0.1:9000/store/photos");

  // Overrides as written by hand: scheme case, no scheme, and ones that name
  // no host, which nothing may be sent to.
  const std::vector<std::array<const char*, 2>> overrides = {
      {"HTTP://127.0.0.1:9000/s3/", "http://127.0.0.1:9000/s3/photos"},
      {"127.0.0.1:9000", "https://127.0.0.1:9000/photos"},
      {"http://", "invalid"},
      {"http:///s3", "invalid"},
      {"https://:9000/s3", "invalid"},
      {"http:/127.0.0.1:9000/s3", "invalid"}};
  for (const auto& [override, expected] : overrides) {
    const auto endpoint = s3Endpoint("eu-west-1", environment({{"AWS_ENDPOINT_URL_S3", override}}));
    EXPECT_EQ(endpoint.valid ? endpoint.bucketUrl("photos") : "invalid", expected) << override;
  }
}

}  // namespace
}  // namespace corvenza::detail
