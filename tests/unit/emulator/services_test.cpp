// The authentication, identity and control services driven through the
// router, without a socket in between.

#include <gtest/gtest.h>

#include <limits>
#include <nlohmann/json.hpp>
#include <vector>

#include "emulator.h"
#include "testkit/temp_dir.h"

namespace corvenza::emulator {
namespace {

using nlohmann::json;

const http::HttpHeaders kJson = {{"Content-Type", "application/json"}};

class ServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EmulatorOptions options;
    options.dataDir = dir.path() / "data";
    options.credentialsDuration = std::chrono::seconds(1200);
    ASSERT_TRUE(emulator.start(options).ok());
  }

  Response send(const std::string& method, const std::string& target,
                http::HttpHeaders headers = {}, const std::string& body = {}) {
    Response answer;
    bool answered = false;
    emulator.router().dispatch(makeRequest(method, target, std::move(headers), body),
                               [&](Response response) {
                                 answer = std::move(response);
                                 answered = true;
                               });
    EXPECT_TRUE(answered);
    return answer;
  }

  Response tokenRequest(const json& body, const std::string& apiKey = "corvenza-emulator-key") {
    return send("POST", "/auth/token", {{"X-Api-Key", apiKey}}, body.dump());
  }
  // {jwt, identity id}
  std::pair<std::string, std::string> token(const json& userId, int duration = 900) {
    const auto response = tokenRequest({{"user_id", userId}, {"token_duration", duration}});
    EXPECT_EQ(response.status, 200) << response.body;
    const auto token = json::parse(response.body)["content"]["token"];
    return {token["jwt_token"], token["identity_id"]};
  }
  Response identityCall(const std::string& operation, const json& body,
                        const std::string& contentType = "application/x-amz-json-1.1") {
    return send(
        "POST", "/identity/",
        {{"Content-Type", contentType}, {"X-Amz-Target", "AWSCognitoIdentityService." + operation}},
        body.dump());
  }
  Response credentials(const std::string& identityId, const std::string& jwt) {
    return identityCall(
        "GetCredentialsForIdentity",
        {{"IdentityId", identityId}, {"Logins", {{"cognito-identity.amazonaws.com", jwt}}}});
  }
  static std::string errorType(const Response& response) {
    const auto type = json::parse(response.body).value("__type", "");
    // The header and the body must agree: clients read either.
    EXPECT_EQ(http::findHeader(response.headers, "x-amzn-ErrorType"), type);
    return type;
  }

  test::TempDir dir;
  Emulator emulator;
};

TEST_F(ServicesTest, TokenCarriesTheRequestedLifetimeAndAStableIdentity) {
  const auto [jwt, identityId] = token("alice", 120);
  const auto claims = emulator.context().jwt.verify(jwt, emulator.context().clock.nowSeconds());
  ASSERT_TRUE(claims.ok());
  EXPECT_EQ((*claims)["sub"], identityId);
  EXPECT_EQ((*claims)["exp"].get<std::int64_t>() - (*claims)["iat"].get<std::int64_t>(), 120);
  EXPECT_EQ((*claims)["aud"], emulator.context().options.identityPoolId);

  EXPECT_EQ(token("alice").second, identityId);
  EXPECT_NE(token("bob").second, identityId);
  EXPECT_NE(token(nullptr).second, token(nullptr).second);
}

TEST_F(ServicesTest, AuthServiceRefusesBadCallers) {
  EXPECT_EQ(tokenRequest({{"user_id", "a"}}, "wrong").status, 401);
  EXPECT_EQ(send("POST", "/auth/token", {}, R"({"user_id":"a"})").status, 401);
  EXPECT_EQ(tokenRequest({{"user_id", 7}}).status, 400);
  EXPECT_EQ(tokenRequest({{"user_id", "a"}, {"token_duration", 0}}).status, 400);
  EXPECT_EQ(tokenRequest({{"user_id", "a"}, {"token_duration", "900"}}).status, 400);
  EXPECT_EQ(tokenRequest({{"user_id", "a"}, {"token_duration", 86'401}}).status, 400);
  EXPECT_EQ(send("POST", "/auth/token", {{"x-api-key", "corvenza-emulator-key"}}, "nope").status,
            400);
  EXPECT_EQ(send("GET", "/auth/token", {{"x-api-key", "corvenza-emulator-key"}}).status, 405);
  EXPECT_EQ(send("POST", "/auth/tokens", {{"x-api-key", "corvenza-emulator-key"}}).status, 404);
  // Without a duration the token still comes, with the default lifetime.
  EXPECT_EQ(tokenRequest({{"user_id", "a"}}).status, 200);
}

TEST_F(ServicesTest, CredentialsAreIssuedAndRecordedForTheTokensIdentity) {
  const auto [jwt, identityId] = token("carol");
  const auto response = credentials(identityId, jwt);
  ASSERT_EQ(response.status, 200) << response.body;
  const auto body = json::parse(response.body);
  EXPECT_EQ(body["IdentityId"], identityId);
  const auto& issued = body["Credentials"];
  ASSERT_TRUE(issued["Expiration"].is_number_float());
  const auto expiration = issued["Expiration"].get<double>();
  EXPECT_NEAR(expiration, static_cast<double>(emulator.context().clock.nowSeconds() + 1200), 5);

  const auto recorded = emulator.context().credentials.validate(
      issued["AccessKeyId"], issued["SessionToken"], emulator.context().clock.now());
  ASSERT_TRUE(recorded.ok());
  EXPECT_EQ(recorded->identityId, identityId);
  EXPECT_EQ(recorded->secretKey, issued["SecretKey"]);
  EXPECT_EQ(http::findHeader(response.headers, "Content-Type"), "application/x-amz-json-1.1");
}

TEST_F(ServicesTest, IdentityServiceRejectsBadTokens) {
  const auto [jwt, identityId] = token("dave", 60);
  const auto [otherJwt, otherId] = token("erin");

  EXPECT_EQ(errorType(credentials(identityId, otherJwt)), "NotAuthorizedException");
  EXPECT_EQ(errorType(credentials(identityId, jwt + "x")), "NotAuthorizedException");
  EXPECT_EQ(errorType(identityCall("GetCredentialsForIdentity", {{"IdentityId", identityId}})),
            "NotAuthorizedException");

  emulator.context().clock.advance(60);
  const auto expired = credentials(identityId, jwt);
  EXPECT_EQ(expired.status, 400);
  EXPECT_EQ(errorType(expired), "NotAuthorizedException");
  // The message says why, without echoing the token.
  EXPECT_NE(expired.body.find("expired"), std::string::npos) << expired.body;
  EXPECT_EQ(expired.body.find(jwt), std::string::npos);
}

TEST_F(ServicesTest, IdentityServiceReportsMalformedCalls) {
  const auto [jwt, identityId] = token("frank");
  EXPECT_EQ(errorType(identityCall("DescribeIdentityPool", {})), "UnknownOperationException");
  EXPECT_EQ(
      errorType(send("POST", "/identity", {{"Content-Type", "application/x-amz-json-1.1"}}, "{}")),
      "UnknownOperationException");
  EXPECT_EQ(errorType(identityCall("GetCredentialsForIdentity", {{"IdentityId", identityId}},
                                   "application/json")),
            "SerializationException");
  EXPECT_EQ(errorType(identityCall("GetCredentialsForIdentity", {{"IdentityId", 5}})),
            "InvalidParameterException");
  EXPECT_EQ(errorType(credentials("not-an-identity", jwt)), "InvalidParameterException");
  EXPECT_EQ(errorType(credentials("ap-northeast-1:12345678-1234-4234-8234-123456789012", jwt)),
            "ResourceNotFoundException");
  EXPECT_EQ(errorType(identityCall("GetCredentialsForIdentity",
                                   {{"IdentityId", identityId}, {"Logins", "x"}})),
            "InvalidParameterException");
}

TEST_F(ServicesTest, GetIdNamesTheTokensIdentityInThisPoolOnly) {
  const auto [jwt, identityId] = token("grace");
  const json logins = {{"cognito-identity.amazonaws.com", jwt}};
  const auto found = identityCall(
      "GetId", {{"IdentityPoolId", emulator.context().options.identityPoolId}, {"Logins", logins}});
  ASSERT_EQ(found.status, 200) << found.body;
  EXPECT_EQ(json::parse(found.body)["IdentityId"], identityId);
  EXPECT_EQ(errorType(identityCall(
                "GetId", {{"IdentityPoolId", "ap-northeast-1:other"}, {"Logins", logins}})),
            "ResourceNotFoundException");
}

TEST_F(ServicesTest, ControlClockMovesEmulatorTime) {
  const auto before = emulator.context().clock.nowSeconds();
  const auto moved = send("POST", "/_control/clock", kJson, R"({"advance_seconds":3600})");
  ASSERT_EQ(moved.status, 200);
  EXPECT_EQ(json::parse(moved.body)["offset_seconds"], 3600);
  EXPECT_GE(emulator.context().clock.nowSeconds(), before + 3600);
  EXPECT_EQ(send("POST", "/_control/clock", kJson, R"({"advance_seconds":"soon"})").status, 400);
  EXPECT_EQ(send("GET", "/_control/nothing").status, 404);
}

// The clock moves only within a range every expiry computation can hold; a
// step outside it is refused whole and the clock keeps its time.
TEST_F(ServicesTest, ControlClockRefusesMovesOutsideItsRange) {
  auto& clock = emulator.context().clock;
  const auto now = clock.nowSeconds();
  const auto untilLatest = EmulatorClock::kLatestSeconds - now;
  for (const std::string& advance : std::vector<std::string>{
           "9223372036854775807", "-9223372036854775808", "18446744073709551615",
           std::to_string(-now - 60), std::to_string(untilLatest + 60)}) {
    SCOPED_TRACE(advance);
    const auto refused =
        send("POST", "/_control/clock", kJson, R"({"advance_seconds":)" + advance + "}");
    EXPECT_EQ(refused.status, 400);
    EXPECT_NE(json::parse(refused.body)["message"].get<std::string>().find("outside"),
              std::string::npos);
    EXPECT_EQ(clock.offsetSeconds(), 0);
  }
  // Up to the edges is fine, and so is coming back; each step adds to the offset.
  const auto late = send("POST", "/_control/clock", kJson,
                         R"({"advance_seconds":)" + std::to_string(untilLatest - 60) + "}");
  ASSERT_EQ(late.status, 200) << late.body;
  EXPECT_LE(json::parse(late.body)["now"].get<std::int64_t>(), EmulatorClock::kLatestSeconds);
  EXPECT_EQ(send("POST", "/_control/clock", kJson, R"({"advance_seconds":3600})").status, 400);
  const auto back = send("POST", "/_control/clock", kJson,
                         R"({"advance_seconds":)" + std::to_string(-untilLatest + 60) + "}");
  ASSERT_EQ(back.status, 200);
  EXPECT_EQ(json::parse(back.body)["offset_seconds"], 0);
  EXPECT_FALSE(clock.advance(std::numeric_limits<std::int64_t>::min()).has_value());
  EXPECT_EQ(clock.advance(-30), -30);
}

// Bodies nested far deeper than any client sends are refused before they
// become values that the JSON library would copy and print recursively.
TEST_F(ServicesTest, DeeplyNestedBodiesAreRefusedByEveryService) {
  const auto deep = R"({"user_id":"a","IdentityPoolId":"p","advance_seconds":1,"x":)" +
                    std::string(100'000, '[') + std::string(100'000, ']') + "}";
  EXPECT_EQ(send("POST", "/auth/token", {{"x-api-key", "corvenza-emulator-key"}}, deep).status,
            400);
  const auto identity = send("POST", "/identity/",
                             {{"Content-Type", "application/x-amz-json-1.1"},
                              {"X-Amz-Target", "AWSCognitoIdentityService.GetId"}},
                             deep);
  EXPECT_EQ(identity.status, 400);
  EXPECT_EQ(errorType(identity), "InvalidParameterException");
  EXPECT_EQ(send("POST", "/_control/clock", kJson, deep).status, 400);
  EXPECT_EQ(emulator.context().clock.offsetSeconds(), 0);
}

TEST(EmulatorRestartTest, IdentitiesAndTokensSurviveARestartOnTheSameDirectory) {
  test::TempDir dir;
  EmulatorOptions options;
  options.dataDir = dir.path();
  std::string jwt, identityId;
  {
    Emulator first;
    ASSERT_TRUE(first.start(options).ok());
    identityId = *first.context().identities->identityFor("ivan");
    jwt = first.context().jwt.sign(identityId, first.context().clock.nowSeconds(), 900);
  }
  Emulator second;
  ASSERT_TRUE(second.start(options).ok());
  EXPECT_EQ(*second.context().identities->identityFor("ivan"), identityId);
  EXPECT_TRUE(second.context().jwt.verify(jwt, second.context().clock.nowSeconds()).ok());
  EXPECT_TRUE(second.context().identities->exists(identityId));
}

TEST(EmulatorRestartTest, TemporaryDataDirectoryIsRemovedOnStop) {
  Emulator emulator;
  ASSERT_TRUE(emulator.start({}).ok());
  const std::filesystem::path dataDir = emulator.endpoints()["data_dir"].get<std::string>();
  EXPECT_TRUE(std::filesystem::exists(dataDir / "identities.sqlite3"));
  emulator.stop();
  EXPECT_FALSE(std::filesystem::exists(dataDir));
}

}  // namespace
}  // namespace corvenza::emulator
