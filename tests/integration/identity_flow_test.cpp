// From the application's token provider to temporary cloud credentials, over
// real HTTP against the emulator: DirectTokenProvider -> identity bridge ->
// credentials provider.

#include <corvenza/direct_token_provider.h>
#include <corvenza/region.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "auth/developer_identity_provider.h"
#include "auth/token_provider_environment.h"
#include "platform/device/key_store.h"
#include "platform/identity/credentials_provider.h"
#include "testkit/emulator_process.h"
#include "testkit/temp_dir.h"

namespace corvenza::test {
namespace {

constexpr std::chrono::seconds kLimit{30};

class IdentityFlowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    emulator_ = std::make_unique<EmulatorProcess>(CORVENZA_EMULATOR_PATH);
  }
  static void TearDownTestSuite() { emulator_.reset(); }

  void SetUp() override { ASSERT_TRUE(emulator_->ok()) << emulator_->error(); }

  // A provider whose keychain lives in this test's own directory.
  std::shared_ptr<DirectTokenProvider> makeProvider(const std::string& apiKey) {
    auto environment = std::make_shared<DefaultTokenProvider::Environment>();
    environment->keyStore = device::makeKeychainStore(auth::kKeychainPrefix, keychainDir_.path());
    environment->now = [] { return std::chrono::system_clock::now(); };
    return std::make_shared<DirectTokenProvider>(emulator_->endpoint("auth"), apiKey,
                                                 std::move(environment));
  }

  struct Chain {
    std::shared_ptr<auth::DeveloperAuthenticatedIdentityProvider> bridge;
    std::shared_ptr<identity::CredentialsProvider> credentials;
  };
  static Chain makeChain(std::shared_ptr<CorvenzaTokenProvider> provider) {
    const auto region = AWSRegionType::regionTypeForString(emulator_->endpoint("region"));
    auto bridge = std::make_shared<auth::DeveloperAuthenticatedIdentityProvider>(
        region, emulator_->endpoint("identity_pool_id"), /*useEnhancedFlow=*/true);
    bridge->setTokenProvider(std::move(provider));
    auto credentials = identity::CredentialsProvider::create(
        region, bridge, http::sharedTransport(), emulator_->endpoint("identity"));
    return {std::move(bridge), std::move(credentials)};
  }

  static std::unique_ptr<EmulatorProcess> emulator_;
  TempDir keychainDir_;
};

std::unique_ptr<EmulatorProcess> IdentityFlowTest::emulator_;

TEST_F(IdentityFlowTest, TokenFromAuthServiceBecomesTemporaryCredentials) {
  auto provider = makeProvider(emulator_->endpoint("api_key"));
  provider->setUserId("alice");
  auto chain = makeChain(provider);

  const auto outcome = chain.credentials->getCredentials().wait(std::optional(kLimit));
  ASSERT_TRUE(outcome.has_value()) << "no answer in time";
  ASSERT_TRUE(outcome->ok()) << outcome->error().localizedDescription();
  EXPECT_EQ(outcome->value().accessKeyId.rfind("ASIA", 0), 0u);
  EXPECT_EQ(outcome->value().secretAccessKey.size(), 40u);
  EXPECT_FALSE(outcome->value().sessionToken.empty());
  ASSERT_TRUE(outcome->value().expiration.has_value());
  EXPECT_GT(*outcome->value().expiration, std::chrono::system_clock::now());

  // The token the provider fetched names the identity the credentials are for.
  const auto token = provider->token();
  ASSERT_TRUE(token.has_value());
  EXPECT_EQ(token->identityId.rfind(emulator_->endpoint("region") + ":", 0), 0u);
  EXPECT_EQ(chain.credentials->identityId(), token->identityId);
  EXPECT_EQ(chain.bridge->identityId(), token->identityId);

  // Credentials are cached: a second request answers with the same keys.
  const auto again = chain.credentials->getCredentials().wait(std::optional(kLimit));
  ASSERT_TRUE(again.has_value() && again->ok());
  EXPECT_EQ(again->value().accessKeyId, outcome->value().accessKeyId);
}

TEST_F(IdentityFlowTest, NearlyExpiredTokenIsRefreshedForTheSameIdentity) {
  auto provider = makeProvider(emulator_->endpoint("api_key"));
  provider->setUserId("bob");
  // Well under the 720 s margin: the stored token is always "nearly expired".
  provider->setTokenDuration(60);
  auto chain = makeChain(provider);

  const auto first = chain.credentials->getCredentials().wait(std::optional(kLimit));
  ASSERT_TRUE(first.has_value() && first->ok());
  const auto firstToken = provider->token();
  ASSERT_TRUE(firstToken.has_value());
  EXPECT_TRUE(provider->isTokenNearlyExpired());
  EXPECT_FALSE(provider->isTokenExpired());

  // A different duration makes the next token differ even within the same second.
  provider->setTokenDuration(120);
  chain.credentials->clearCredentials();
  const auto second = chain.credentials->getCredentials().wait(std::optional(kLimit));
  ASSERT_TRUE(second.has_value());
  ASSERT_TRUE(second->ok()) << second->error().localizedDescription();

  const auto secondToken = provider->token();
  ASSERT_TRUE(secondToken.has_value());
  EXPECT_NE(secondToken->jwtToken, firstToken->jwtToken) << "the token was not requested again";
  EXPECT_EQ(secondToken->identityId, firstToken->identityId);
  EXPECT_EQ(chain.credentials->identityId(), firstToken->identityId);
  EXPECT_NE(second->value().accessKeyId, first->value().accessKeyId);

  // The refreshed token was written through to the keychain, for bob.
  auto reread = makeProvider(emulator_->endpoint("api_key"));
  reread->setUserId("bob");
  reread->loadFromKeyChain();
  EXPECT_EQ(reread->token(), secondToken);
}

TEST_F(IdentityFlowTest, WrongApiKeyFailsTheCredentialsWithoutLeakingIt) {
  auto provider = makeProvider("not-the-key");
  provider->setUserId("carol");
  auto chain = makeChain(provider);

  const auto outcome = chain.credentials->getCredentials().wait(std::optional(kLimit));
  ASSERT_TRUE(outcome.has_value()) << "no answer in time";
  ASSERT_FALSE(outcome->ok());
  EXPECT_EQ(outcome->error().localizedDescription().find("not-the-key"), std::string::npos);
  EXPECT_FALSE(provider->token().has_value());
  EXPECT_TRUE(chain.credentials->identityId().empty());
}

// An application's own provider that answers whatever it was given.
class FixedTokenProvider final : public CorvenzaTokenProvider {
 public:
  explicit FixedTokenProvider(CorvenzaToken token) : token_(std::move(token)) {}
  std::optional<CorvenzaToken> token() const override { return token_; }
  void setToken(std::optional<CorvenzaToken>) override {}

 private:
  CorvenzaToken token_;
};

TEST_F(IdentityFlowTest, ForeignTokenIsRefusedByTheIdentityService) {
  auto dave = makeProvider(emulator_->endpoint("api_key"));
  dave->setUserId("dave");
  ASSERT_TRUE(makeChain(dave).credentials->getCredentials().wait(std::optional(kLimit))->ok());
  const auto daveToken = *dave->token();

  TempDir otherKeychain;
  auto erinEnvironment = std::make_shared<DefaultTokenProvider::Environment>();
  erinEnvironment->keyStore =
      device::makeKeychainStore(auth::kKeychainPrefix, otherKeychain.path());
  erinEnvironment->now = [] { return std::chrono::system_clock::now(); };
  auto erin = std::make_shared<DirectTokenProvider>(
      emulator_->endpoint("auth"), emulator_->endpoint("api_key"), erinEnvironment);
  erin->setUserId("erin");
  ASSERT_TRUE(makeChain(erin).credentials->getCredentials().wait(std::optional(kLimit))->ok());
  const auto erinToken = *erin->token();
  ASSERT_NE(erinToken.identityId, daveToken.identityId);

  // Erin's valid token presented for Dave's identity: the bridge passes it on
  // unchanged, and the service must refuse it.
  auto chain = makeChain(std::make_shared<FixedTokenProvider>(
      CorvenzaToken(erinToken.jwtToken, daveToken.identityId)));
  const auto outcome = chain.credentials->getCredentials().wait(std::optional(kLimit));
  ASSERT_TRUE(outcome.has_value()) << "no answer in time";
  ASSERT_FALSE(outcome->ok());
  EXPECT_EQ(outcome->error().localizedDescription().find(erinToken.jwtToken), std::string::npos);
}

}  // namespace
}  // namespace corvenza::test
