#include <corvenza/config.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace corvenza {
namespace {

nlohmann::json fullConfig() {
  return {{"graph_ql_endpoint", "https://example.test/graphql"},
          {"graph_ql_region", "us-west-2"},
          {"bucket_name", "photos"},
          {"bucket_region", "eu-west-1"},
          {"id_pool_id", "us-west-2:11111111-2222-3333-4444-555555555555"},
          {"id_pool_region", "ap-northeast-1"},
          {"encryption_key", "key-1"}};
}

TEST(CorvenzaConfigTest, DecodesAllSevenMembersAndIgnoresOthers) {
  auto json = fullConfig();
  json["extra"] = 42;
  auto config = CorvenzaConfig::decode(json.dump());
  ASSERT_TRUE(config);
  EXPECT_EQ(*config, CorvenzaConfig("https://example.test/graphql", "us-west-2", "photos",
                                    "eu-west-1", "us-west-2:11111111-2222-3333-4444-555555555555",
                                    "ap-northeast-1", "key-1"));
}

TEST(CorvenzaConfigTest, EveryMemberIsRequiredAndMustBeAString) {
  const auto reference = fullConfig();
  for (const auto& [member, value] : reference.items()) {
    SCOPED_TRACE(member);
    auto missing = fullConfig();
    missing.erase(member);
    std::string why;
    EXPECT_FALSE(CorvenzaConfig::decode(missing.dump(), &why));
    EXPECT_NE(why.find(member), std::string::npos);

    auto number = fullConfig();
    number[member] = 7;
    EXPECT_FALSE(CorvenzaConfig::decode(number.dump()));
    auto null = fullConfig();
    null[member] = nullptr;
    EXPECT_FALSE(CorvenzaConfig::decode(null.dump()));
  }
}

TEST(CorvenzaConfigTest, NonObjectsAndBrokenJsonAreRejected) {
  for (const char* text :
       {"", "{", "[]", "\"text\"", "null", "{\"graph_ql_endpoint\":", "\xff\xfe\x00"}) {
    EXPECT_FALSE(CorvenzaConfig::decode(text)) << text;
  }
}

TEST(ConstantsTest, DefaultsArePlausible) {
  EXPECT_FALSE(Constants::DEBUG_MODE);
  EXPECT_EQ(Constants::APPSYNC_REGION, AWSRegionType::APNortheast1);
  EXPECT_EQ(Constants::COGNITO_REGION, AWSRegionType::APNortheast1);
  const std::string pool = Constants::COGNITO_ID_POOL_ID;
  EXPECT_EQ(pool.rfind("ap-northeast-1:", 0), 0u);
  EXPECT_EQ(pool.size(), std::string("ap-northeast-1:").size() + 36);
  EXPECT_EQ(std::string(Constants::APPSYNC_ENDPOINT_URL).rfind("https://", 0), 0u);
}

}  // namespace
}  // namespace corvenza
