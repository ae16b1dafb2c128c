#include <corvenza/default_token_provider.h>
#include <corvenza/enterprise.h>
#include <gtest/gtest.h>

#include "auth/developer_identity_provider.h"
#include "auth/token_provider_environment.h"
#include "client/client_setup.h"
#include "platform/identity/credentials_provider.h"
#include "platform/identity/service_configuration.h"
#include "requests/client_state.h"
#include "testkit/client_services.h"
#include "testkit/fake_graphql_gateway.h"
#include "unit/auth/auth_fakes.h"

namespace corvenza {
namespace {

class PlainProvider final : public CorvenzaTokenProvider {
 public:
  std::optional<CorvenzaToken> token() const override { return CorvenzaToken("j", "i"); }
  void setToken(std::optional<CorvenzaToken>) override {}
};

class FacadeIdentityTest : public ::testing::Test {
 protected:
  void SetUp() override { detail::resetSharedInstanceForTesting(); }
  void TearDown() override { detail::resetSharedInstanceForTesting(); }

  // Runs the identity part of start-up with @p provider stored.
  static void startWith(std::shared_ptr<CorvenzaTokenProvider> provider) {
    auto& impl = CorvenzaEnterprise::shared().impl();
    requests::ClientSettings settings;
    settings.cognitoIDPoolRegion = AWSRegionType::EUWest1;
    settings.cognitoIDPoolID = "eu-west-1:pool";
    impl.setSettings(settings);
    client::useTokenProvider(impl, std::move(provider));
    CorvenzaEnterprise::shared().initializeAWS();
  }
};

TEST_F(FacadeIdentityTest, BeforeInitializeThereIsNothingToClear) {
  EXPECT_FALSE(CorvenzaEnterprise::defaultTokenProvider());
  CorvenzaEnterprise::clearCredentials();
  EXPECT_FALSE(CorvenzaEnterprise::shared().impl().services()->cognitoCredentialsProvider);
  EXPECT_FALSE(CorvenzaEnterprise::shared().impl().services()->developerIdentityProvider);
}

TEST_F(FacadeIdentityTest, StartUpChainsProviderBridgeAndCredentialsAndClearSignsOut) {
  auto store = std::make_shared<test::FakeKeyStore>();
  auto environment = std::make_shared<DefaultTokenProvider::Environment>();
  environment->keyStore = store;
  environment->now = [] { return test::testNow(); };
  auto provider = std::make_shared<DefaultTokenProvider>(environment);
  provider->setToken(CorvenzaToken("jwt", "id"));
  startWith(provider);

  EXPECT_EQ(CorvenzaEnterprise::defaultTokenProvider(), provider);
  const auto services = CorvenzaEnterprise::shared().impl().services();
  auto bridge = services->developerIdentityProvider;
  auto credentials = services->cognitoCredentialsProvider;
  ASSERT_TRUE(bridge && credentials);
  EXPECT_EQ(bridge->tokenProvider(), provider);
  EXPECT_EQ(bridge->identityPoolId(), "eu-west-1:pool");
  EXPECT_EQ(credentials->identityProvider(), bridge);
  EXPECT_EQ(credentials->region(), AWSRegionType::EUWest1);
  // Photos are uploaded and linked with the same credentials.
  ASSERT_TRUE(services->serviceConfiguration && services->transferUtility &&
              services->presignedURLBuilder);
  EXPECT_EQ(services->serviceConfiguration->credentialsProvider, credentials);

  auto client = std::make_shared<test::FakeGraphQLGateway>();
  test::useGateway(CorvenzaEnterprise::shared().impl(), client);
  bridge->setIdentityId("id");
  CorvenzaEnterprise::clearCredentials();
  EXPECT_EQ(bridge->identityId(), "");
  EXPECT_FALSE(provider->token());
  EXPECT_TRUE(store->entries().empty());
  EXPECT_EQ(client->cacheClears, 1);  // nothing cached for this user answers the next
}

TEST_F(FacadeIdentityTest, OtherProviderKindsAreNotDefaultProvidersAndKeepTheirToken) {
  auto provider = std::make_shared<PlainProvider>();
  startWith(provider);
  EXPECT_FALSE(CorvenzaEnterprise::defaultTokenProvider());
  CorvenzaEnterprise::clearCredentials();
  EXPECT_TRUE(provider->token());
}

}  // namespace
}  // namespace corvenza
