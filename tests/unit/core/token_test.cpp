#include <corvenza/token.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace corvenza {
namespace {

TEST(CorvenzaTokenTest, EmptyTokenEncodesTwoEmptyMembers) {
  CorvenzaToken token;
  EXPECT_EQ(token.jwtToken, "");
  EXPECT_EQ(token.identityId, "");
  auto json = nlohmann::json::parse(token.toJson());
  EXPECT_EQ(json, (nlohmann::json{{"jwt_token", ""}, {"identity_id", ""}}));
}

TEST(CorvenzaTokenTest, RoundTripsAndIgnoresExtraMembers) {
  CorvenzaToken token("a.b.c", "ap-northeast-1:1234");
  EXPECT_EQ(CorvenzaToken::fromJson(token.toJson()), token);
  auto decoded = CorvenzaToken::fromJson(
      R"({"jwt_token":"x","identity_id":"y","expires":12,"extra":{"a":1}})");
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->jwtToken, "x");
  EXPECT_EQ(decoded->identityId, "y");
}

TEST(CorvenzaTokenTest, DecodingRequiresBothMembersAsStrings) {
  std::string why;
  EXPECT_FALSE(CorvenzaToken::fromJson(R"({"jwt_token":"x"})", &why));
  EXPECT_NE(why.find("identity_id"), std::string::npos);
  EXPECT_FALSE(CorvenzaToken::fromJson(R"({"identity_id":"y"})"));
  EXPECT_FALSE(CorvenzaToken::fromJson(R"({"jwt_token":1,"identity_id":"y"})"));
  EXPECT_FALSE(CorvenzaToken::fromJson(R"({"jwt_token":"x","identity_id":null})"));
  EXPECT_FALSE(CorvenzaToken::fromJson(R"(["x","y"])"));
  EXPECT_FALSE(CorvenzaToken::fromJson("not json"));
  EXPECT_FALSE(CorvenzaToken::fromJson(""));
}

TEST(CorvenzaTokenTest, MalformedValuesAreValidRecords) {
  auto decoded = CorvenzaToken::fromJson(R"({"jwt_token":"not-a-jwt","identity_id":""})");
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->jwtToken, "not-a-jwt");
}

}  // namespace
}  // namespace corvenza
