#include "auth/developer_identity_provider.h"

#include <gtest/gtest.h>

#include "auth/token_provider_environment.h"
#include "unit/auth/auth_fakes.h"

namespace corvenza::auth {
namespace {

using std::chrono::minutes;
using test::makeJwt;
using test::testNowPlus;
using StringTask = dispatch::Task<std::string>;

class PlainProvider final : public CorvenzaTokenProvider {
 public:
  explicit PlainProvider(std::optional<CorvenzaToken> token) : token_(std::move(token)) {}
  std::optional<CorvenzaToken> token() const override { return token_; }
  void setToken(std::optional<CorvenzaToken> token) override { token_ = std::move(token); }

 private:
  std::optional<CorvenzaToken> token_;
};

class DeveloperIdentityProviderTest : public ::testing::Test {
 protected:
  std::shared_ptr<DeveloperAuthenticatedIdentityProvider> makeBridge(
      std::chrono::milliseconds waitLimit = std::chrono::seconds(60)) {
    DeveloperAuthenticatedIdentityProvider::Options options;
    options.executor = executor;
    options.waitLimit = waitLimit;
    auto bridge = std::make_shared<DeveloperAuthenticatedIdentityProvider>(
        AWSRegionType::APNortheast1, "ap-northeast-1:pool", true, options);
    bridge->setIdentityId("id-before");
    return bridge;
  }

  std::shared_ptr<DefaultTokenProvider> makeKeychainProvider() {
    auto environment = std::make_shared<DefaultTokenProvider::Environment>();
    environment->keyStore = std::make_shared<test::FakeKeyStore>();
    environment->now = [] { return test::testNow(); };
    return std::make_shared<DefaultTokenProvider>(environment);
  }

  // Waits generously: the outcome is asserted, never the time it took.
  static StringTask::Outcome outcomeOf(const StringTask& task) {
    auto outcome = task.wait(std::optional<std::chrono::seconds>(std::chrono::seconds(30)));
    if (!outcome) return Error("TestTimeout", 0);
    return *outcome;
  }

  std::shared_ptr<dispatch::ThreadPoolExecutor> executor =
      std::make_shared<dispatch::ThreadPoolExecutor>(2);
};

TEST_F(DeveloperIdentityProviderTest, KeychainProviderWithFreshTokenYieldsItsJwtAndIdentity) {
  auto provider = makeKeychainProvider();
  CorvenzaToken fresh(makeJwt(testNowPlus(minutes(30))), "ap-northeast-1:abc");
  provider->setToken(fresh);
  auto bridge = makeBridge();
  bridge->setTokenProvider(provider);

  auto outcome = outcomeOf(bridge->token());
  ASSERT_TRUE(outcome.ok()) << outcome.error().localizedDescription();
  EXPECT_EQ(outcome.value(), fresh.jwtToken);
  EXPECT_EQ(bridge->identityId(), "ap-northeast-1:abc");
}

TEST_F(DeveloperIdentityProviderTest, KeychainProviderFailuresBecomeTaskErrors) {
  Error providerError("ProviderDomain", 7);
  struct Case {
    std::optional<Error> refreshError;
    std::string domain;
    int code;
  };
  for (const auto& [refreshError, domain, code] :
       {Case{providerError, "ProviderDomain", 7}, Case{std::nullopt, "CorvenzaError", 2000}}) {
    SCOPED_TRACE(domain);
    auto provider = makeKeychainProvider();
    provider->setRestoreTokenBlock(
        [refreshError](auto completion) { completion(std::nullopt, refreshError); });
    auto bridge = makeBridge();
    bridge->setTokenProvider(provider);

    auto outcome = outcomeOf(bridge->token());
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.error().domain(), domain);
    EXPECT_EQ(outcome.error().code(), code);
    EXPECT_EQ(bridge->identityId(), "id-before");
  }
}

TEST_F(DeveloperIdentityProviderTest, ProviderThatNeverAnswersTimesOutWithAnError) {
  auto provider = makeKeychainProvider();
  DefaultTokenProvider::TokenCallback neverCalled;
  provider->setRestoreTokenBlock([&](auto completion) { neverCalled = std::move(completion); });
  auto bridge = makeBridge(std::chrono::milliseconds(50));
  bridge->setTokenProvider(provider);

  auto outcome = outcomeOf(bridge->token());
  ASSERT_FALSE(outcome.ok());
  EXPECT_EQ(outcome.error().domain(), "CorvenzaError");
  EXPECT_EQ(outcome.error().code(), 2000);
  ASSERT_TRUE(outcome.error().userInfo());
  EXPECT_EQ(outcome.error().userInfo()->at("detail"), "The token provider did not answer in time");

  // A late answer after the wait gave up is harmless.
  ASSERT_TRUE(neverCalled);
  neverCalled(CorvenzaToken("late", "id-late"), std::nullopt);
  EXPECT_EQ(bridge->identityId(), "id-before");
}

TEST_F(DeveloperIdentityProviderTest, OtherProvidersAreAnsweredAtOnce) {
  auto bridge = makeBridge();

  auto none = bridge->token();
  ASSERT_TRUE(none.isCompleted());
  auto failed = *none.outcome();
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error(), makeTokenFetchError());
  EXPECT_EQ(failed.error().userInfo()->at("detail"), "Cannot get both token and identityId");

  bridge->setTokenProvider(std::make_shared<PlainProvider>(std::nullopt));
  auto empty = bridge->token();
  ASSERT_TRUE(empty.isCompleted());
  EXPECT_EQ(empty.outcome()->error().code(), 111);

  bridge->setTokenProvider(std::make_shared<PlainProvider>(CorvenzaToken("any-text", "id-9")));
  auto task = bridge->token();
  ASSERT_TRUE(task.isCompleted());
  EXPECT_EQ(task.outcome()->value(), "any-text");
  EXPECT_EQ(bridge->identityId(), "id-9");
}

}  // namespace
}  // namespace corvenza::auth
