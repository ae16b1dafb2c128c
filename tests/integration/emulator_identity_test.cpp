// The emulator's authentication and identity services over real HTTP, with
// the emulator running as its own process.

#include <gtest/gtest.h>
#include <signal.h>

#include <memory>
#include <nlohmann/json.hpp>

#include "emulator_http_client.h"
#include "testkit/emulator_process.h"

namespace corvenza::test {
namespace {

using nlohmann::json;

const std::vector<std::string> kIdentityHeaders = {
    "Content-Type: application/x-amz-json-1.1",
    "X-Amz-Target: AWSCognitoIdentityService.GetCredentialsForIdentity"};

class EmulatorIdentityTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    emulator_ = std::make_unique<EmulatorProcess>(CORVENZA_EMULATOR_PATH);
  }
  static void TearDownTestSuite() { emulator_.reset(); }

  void SetUp() override { ASSERT_TRUE(emulator_->ok()) << emulator_->error(); }

  static PlainResponse requestToken(const json& body, const std::string& apiKey) {
    return plainRequest("POST", emulator_->endpoint("auth") + "/token", {"x-api-key: " + apiKey},
                        body.dump());
  }
  // Returns {jwt, identity id}; fails the test when the service refuses.
  static std::pair<std::string, std::string> token(const json& userId, int duration = 900) {
    const auto response = requestToken({{"user_id", userId}, {"token_duration", duration}},
                                       emulator_->endpoint("api_key"));
    EXPECT_EQ(response.status, 200) << response.body;
    const auto parsed = json::parse(response.body, nullptr, false);
    const auto& token = parsed["content"]["token"];
    return {token.value("jwt_token", ""), token.value("identity_id", "")};
  }
  static PlainResponse credentials(const std::string& identityId, const std::string& jwt) {
    const json body = {{"IdentityId", identityId},
                       {"Logins", {{"cognito-identity.amazonaws.com", jwt}}}};
    return plainRequest("POST", emulator_->endpoint("identity"), kIdentityHeaders, body.dump());
  }
  static std::string errorType(const PlainResponse& response) {
    return json::parse(response.body, nullptr, false).value("__type", "");
  }

  static std::unique_ptr<EmulatorProcess> emulator_;
};

std::unique_ptr<EmulatorProcess> EmulatorIdentityTest::emulator_;

TEST_F(EmulatorIdentityTest, ReadyLineNamesEveryEndpointOnOneLoopbackPort) {
  const auto base = emulator_->endpoint("base");
  ASSERT_EQ(base.rfind("http://127.0.0.1:", 0), 0u) << base;
  EXPECT_NE(base, "http://127.0.0.1:0");
  EXPECT_EQ(emulator_->endpoint("auth"), base + "/auth");
  EXPECT_EQ(emulator_->endpoint("identity"), base + "/identity");
  EXPECT_EQ(emulator_->endpoint("realtime"), "ws://" + base.substr(7) + "/graphql/realtime");
  EXPECT_EQ(emulator_->endpoint("data_dir"), emulator_->dataDir().string());
  EXPECT_EQ(emulator_->endpoint("region"), "ap-northeast-1");
}

TEST_F(EmulatorIdentityTest, TokenExchangesForCredentials) {
  const auto [jwt, identityId] = token("alice");
  ASSERT_FALSE(jwt.empty());
  EXPECT_EQ(identityId.rfind("ap-northeast-1:", 0), 0u) << identityId;

  const auto response = credentials(identityId, jwt);
  ASSERT_EQ(response.status, 200) << response.body;
  const auto body = json::parse(response.body);
  EXPECT_EQ(body["IdentityId"], identityId);
  const auto& issued = body["Credentials"];
  EXPECT_EQ(issued["AccessKeyId"].get<std::string>().rfind("ASIA", 0), 0u);
  EXPECT_EQ(issued["SecretKey"].get<std::string>().size(), 40u);
  EXPECT_GT(issued["SessionToken"].get<std::string>().size(), 100u);
  EXPECT_TRUE(issued["Expiration"].is_number());

  // The log tells what happened and never what was handed out.
  const auto log = emulator_->log();
  EXPECT_NE(log.find("POST /identity 200"), std::string::npos) << log;
  EXPECT_EQ(log.find(jwt), std::string::npos);
  EXPECT_EQ(log.find(issued["SecretKey"].get<std::string>()), std::string::npos);
  EXPECT_EQ(log.find(issued["SessionToken"].get<std::string>()), std::string::npos);
}

TEST_F(EmulatorIdentityTest, IdentityIsStablePerUserAndFreshForAnonymous) {
  EXPECT_EQ(token("bob").second, token("bob").second);
  EXPECT_NE(token("bob").second, token("carol").second);
  EXPECT_NE(token(nullptr).second, token(nullptr).second);
}

TEST_F(EmulatorIdentityTest, AuthServiceRejectsWrongOrMissingApiKey) {
  const json body = {{"user_id", "alice"}, {"token_duration", 900}};
  EXPECT_EQ(requestToken(body, "not-the-key").status, 401);
  const auto missing =
      plainRequest("POST", emulator_->endpoint("auth") + "/token", {}, body.dump());
  EXPECT_EQ(missing.status, 401);
  EXPECT_TRUE(json::accept(missing.body));
}

TEST_F(EmulatorIdentityTest, BadTokensAreNotAuthorized) {
  const auto [jwt, identityId] = token("dave");
  const auto [otherJwt, otherId] = token("erin");

  // Change one character inside the signature. (The last character also
  // carries unused padding bits, so changing it may leave the bytes alone.)
  auto tampered = jwt;
  auto& changed = tampered[tampered.size() - 5];
  changed = changed == 'A' ? 'B' : 'A';
  const auto forged = credentials(identityId, tampered);
  EXPECT_EQ(forged.status, 400);
  EXPECT_EQ(errorType(forged), "NotAuthorizedException");
  EXPECT_TRUE(forged.hasHeaderLine("x-amzn-ErrorType: NotAuthorizedException"));

  // A valid token of someone else.
  EXPECT_EQ(errorType(credentials(identityId, otherJwt)), "NotAuthorizedException");
}

TEST_F(EmulatorIdentityTest, ExpiredTokenIsNotAuthorizedAfterTheClockMoves) {
  const auto [jwt, identityId] = token("frank", 60);
  ASSERT_EQ(credentials(identityId, jwt).status, 200);

  const auto control = emulator_->endpoint("base") + "/_control/clock";
  const std::vector<std::string> asJson = {"Content-Type: application/json"};
  ASSERT_EQ(plainRequest("POST", control, asJson, R"({"advance_seconds":61})").status, 200);
  const auto late = credentials(identityId, jwt);
  plainRequest("POST", control, asJson, R"({"advance_seconds":-61})");
  EXPECT_EQ(errorType(late), "NotAuthorizedException") << late.body;
}

TEST_F(EmulatorIdentityTest, UnknownPathsAnswer404WithJson) {
  const auto response = plainRequest("GET", emulator_->endpoint("base") + "/nowhere", {});
  EXPECT_EQ(response.status, 404);
  EXPECT_TRUE(json::accept(response.body)) << response.body;
}

TEST(EmulatorLifecycleTest, StopsCleanlyOnSigtermAndSigint) {
  for (const int signal : {SIGTERM, SIGINT}) {
    EmulatorProcess emulator(CORVENZA_EMULATOR_PATH);
    ASSERT_TRUE(emulator.ok()) << emulator.error();
    EXPECT_EQ(emulator.stop(signal), std::optional<int>(0)) << "signal " << signal;
  }
}

}  // namespace
}  // namespace corvenza::test
