#include <corvenza/default_token_provider.h>
#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <set>
#include <thread>

#include "auth/token_provider_environment.h"
#include "testkit/console_capture.h"
#include "testkit/temp_dir.h"
#include "unit/auth/auth_fakes.h"

namespace corvenza {
namespace {

using std::chrono::minutes;
using std::chrono::seconds;
using test::Answer;
using test::FakeKeyStore;
using test::makeJwt;
using test::testNowPlus;

class DefaultTokenProviderTest : public ::testing::Test {
 protected:
  std::shared_ptr<DefaultTokenProvider> makeProvider() {
    auto environment = std::make_shared<DefaultTokenProvider::Environment>();
    environment->keyStore = store;
    environment->now = [] { return test::testNow(); };
    return std::make_shared<DefaultTokenProvider>(environment);
  }

  // Installs a refresh function that answers at once with @p token / @p error.
  void answerRefreshWith(DefaultTokenProvider& provider, std::optional<CorvenzaToken> token,
                         std::optional<Error> error = std::nullopt) {
    provider.setRestoreTokenBlock([this, token, error](auto completion) {
      ++refreshes;
      completion(token, error);
    });
  }

  std::shared_ptr<FakeKeyStore> store = std::make_shared<FakeKeyStore>();
  int refreshes = 0;
};

TEST_F(DefaultTokenProviderTest, FirstUseWithEmptyKeychainWritesEmptyEntriesAndRefreshes) {
  auto provider = makeProvider();
  CorvenzaToken fresh(makeJwt(testNowPlus(minutes(30))), "id-1");
  answerRefreshWith(*provider, fresh);

  Answer answer;
  provider->ensureToken(answer.callback());

  auto log = store->log();
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ((std::vector<std::string>(log.begin(), log.begin() + 4)),
            (std::vector<std::string>{"get JwtToken", "get IdentityId", "set JwtToken",
                                      "set IdentityId"}));
  EXPECT_EQ(refreshes, 1);
  EXPECT_EQ(answer.calls, 1);
  EXPECT_EQ(answer.token, fresh);
  EXPECT_FALSE(answer.error);
  EXPECT_EQ(provider->token(), fresh);
  EXPECT_EQ(store->entries().at("JwtToken"), fresh.jwtToken);
  EXPECT_EQ(store->entries().at("IdentityId"), "id-1");
}

TEST_F(DefaultTokenProviderTest, ExpiryMarginIs720Seconds) {
  struct Case {
    seconds left;
    bool nearlyExpired;
  };
  for (auto [left, nearlyExpired] : {Case{minutes(11), true}, Case{minutes(13), false},
                                     Case{seconds(720), false}, Case{seconds(719), true}}) {
    SCOPED_TRACE(left.count());
    auto provider = makeProvider();
    CorvenzaToken held(makeJwt(testNowPlus(left)), "id-held");
    provider->setToken(held);
    answerRefreshWith(*provider, CorvenzaToken(makeJwt(testNowPlus(minutes(60))), "id-new"));
    refreshes = 0;

    EXPECT_EQ(provider->isTokenNearlyExpired(), nearlyExpired);
    EXPECT_FALSE(provider->isTokenExpired());
    Answer answer;
    provider->ensureToken(answer.callback());
    EXPECT_EQ(refreshes, nearlyExpired ? 1 : 0);
    EXPECT_EQ(answer.calls, 1);
    EXPECT_EQ(answer.token->identityId, nearlyExpired ? "id-new" : "id-held");
  }
}

TEST_F(DefaultTokenProviderTest, JudgesPastMissingAndMalformedExpiry) {
  auto provider = makeProvider();
  answerRefreshWith(*provider, CorvenzaToken(makeJwt(std::nullopt), "id"));

  provider->setToken(CorvenzaToken(makeJwt(testNowPlus(seconds(-1))), "id"));
  EXPECT_TRUE(provider->isTokenExpired());

  // A token without expiry is not expired, yet refreshed on every ensureToken.
  provider->setToken(CorvenzaToken(makeJwt(std::nullopt), "id"));
  EXPECT_FALSE(provider->isTokenExpired());
  EXPECT_TRUE(provider->isTokenNearlyExpired());
  Answer answer;
  provider->ensureToken(answer.callback());
  provider->ensureToken(answer.callback());
  EXPECT_EQ(refreshes, 2);

  test::ConsoleCapture console;
  provider->setToken(CorvenzaToken("not-a-jwt", "id"));
  EXPECT_TRUE(provider->isTokenExpired());
  EXPECT_TRUE(provider->isTokenNearlyExpired());
  EXPECT_EQ(console.lines(), (std::vector<std::string>{"Warning: malformed JWT token",
                                                       "Warning: malformed JWT token"}));

  // Empty and absent tokens count as expired without a warning.
  provider->setToken(CorvenzaToken("", "id"));
  EXPECT_TRUE(provider->isTokenExpired());
  provider->setToken(std::nullopt);
  EXPECT_TRUE(provider->isTokenNearlyExpired());
  EXPECT_EQ(console.lines().size(), 2u);
}

TEST_F(DefaultTokenProviderTest, FailedRefreshClearsTokenAndKeychainAndPassesErrorOn) {
  auto provider = makeProvider();
  provider->setToken(CorvenzaToken(makeJwt(testNowPlus(minutes(5))), "id-old"));
  Error failure("SomeDomain", 42);
  answerRefreshWith(*provider, std::nullopt, failure);

  Answer answer;
  provider->ensureToken(answer.callback());

  EXPECT_EQ(answer.calls, 1);
  EXPECT_FALSE(answer.token);
  EXPECT_EQ(answer.error, failure);
  EXPECT_FALSE(provider->token());
  EXPECT_TRUE(store->entries().empty());
}

TEST_F(DefaultTokenProviderTest, ClearOnEmptyProviderDeletesBothEntriesTwice) {
  auto provider = makeProvider();
  provider->clear();
  EXPECT_EQ(store->log(), (std::vector<std::string>{"remove JwtToken", "remove IdentityId",
                                                    "remove JwtToken", "remove IdentityId"}));
  EXPECT_FALSE(provider->token());
}

TEST_F(DefaultTokenProviderTest, TokenSavedInTheKeychainIsFoundByTheNextRun) {
  test::TempDir dir;
  auto providerOnDisk = [&] {
    auto environment = std::make_shared<DefaultTokenProvider::Environment>();
    environment->keyStore = device::makeKeychainStore(auth::kKeychainPrefix, dir.path());
    environment->now = [] { return test::testNow(); };
    return std::make_shared<DefaultTokenProvider>(environment);
  };
  CorvenzaToken saved(makeJwt(testNowPlus(minutes(30))), "ap-northeast-1:id");
  providerOnDisk()->setToken(saved);

  auto next = providerOnDisk();
  next->loadFromKeyChain();
  EXPECT_EQ(next->token(), saved);

  next->clear();
  auto afterClear = providerOnDisk();
  afterClear->loadFromKeyChain();
  EXPECT_EQ(afterClear->token(), CorvenzaToken());
}

TEST_F(DefaultTokenProviderTest, RestoreWithoutRefreshFunctionAnswersWithErrorAndKeepsToken) {
  auto provider = makeProvider();
  CorvenzaToken held(makeJwt(testNowPlus(minutes(1))), "id");
  provider->setToken(held);

  Answer answer;
  provider->ensureToken(answer.callback());

  EXPECT_EQ(answer.calls, 1);
  EXPECT_FALSE(answer.token);
  ASSERT_TRUE(answer.error);
  EXPECT_EQ(answer.error->domain(), "CorvenzaError");
  EXPECT_EQ(answer.error->code(), 2000);
  EXPECT_EQ(provider->token(), held);
}

TEST_F(DefaultTokenProviderTest, RefreshCompletingAfterProviderIsGoneOnlyCallsBack) {
  auto provider = makeProvider();
  DefaultTokenProvider::TokenCallback pending;
  provider->setRestoreTokenBlock([&](auto completion) { pending = std::move(completion); });

  Answer answer;
  provider->restoreToken(answer.callback());
  provider.reset();
  store->clearLog();

  CorvenzaToken late(makeJwt(testNowPlus(minutes(30))), "id-late");
  pending(late, std::nullopt);
  EXPECT_EQ(answer.calls, 1);
  EXPECT_EQ(answer.token, late);
  EXPECT_TRUE(store->log().empty());
}

TEST_F(DefaultTokenProviderTest, KeychainHoldsTheLastTokenSetUnderConcurrentWrites) {
  auto provider = makeProvider();
  test::ConsoleCapture console;  // the made-up tokens are malformed on purpose
  constexpr int kRounds = 200;
  auto writer = [&](const std::string& prefix) {
    for (int i = 0; i < kRounds; ++i) {
      provider->setToken(CorvenzaToken(prefix + std::to_string(i), prefix + std::to_string(i)));
      (void)provider->isTokenNearlyExpired();
    }
  };
  std::thread a(writer, "a");
  std::thread b(writer, "b");
  a.join();
  b.join();

  auto last = provider->token();
  ASSERT_TRUE(last);
  auto entries = store->entries();
  EXPECT_EQ(entries.at("JwtToken"), last->jwtToken);
  EXPECT_EQ(entries.at("IdentityId"), last->identityId);
}

}  // namespace
}  // namespace corvenza

namespace corvenza {
namespace {

using std::chrono::minutes;
using std::chrono::seconds;
using test::makeJwt;
using test::testNowPlus;

// Keeps the refresh function's completions so the test decides when each answers.
struct HeldRefreshes {
  std::mutex mutex;
  std::vector<DefaultTokenProvider::TokenCallback> completions;
  DefaultTokenProvider::RestoreTokenBlock block() {
    return [this](DefaultTokenProvider::TokenCallback completion) {
      std::lock_guard lock(mutex);
      completions.push_back(std::move(completion));
    };
  }
  std::size_t count() {
    std::lock_guard lock(mutex);
    return completions.size();
  }
  void answer(std::size_t index, std::optional<CorvenzaToken> token) {
    DefaultTokenProvider::TokenCallback completion;
    {
      std::lock_guard lock(mutex);
      completion = completions.at(index);
    }
    completion(std::move(token), std::nullopt);
  }
};

class TokenProviderIsolationTest : public ::testing::Test {
 protected:
  std::shared_ptr<DefaultTokenProvider> makeProvider() {
    auto environment = std::make_shared<DefaultTokenProvider::Environment>();
    environment->keyStore = store;
    environment->now = [this] { return test::testNow() + seconds(clockOffset.load()); };
    return std::make_shared<DefaultTokenProvider>(environment);
  }

  std::shared_ptr<test::FakeKeyStore> store = std::make_shared<test::FakeKeyStore>();
  std::atomic<std::int64_t> clockOffset{0};
};

TEST_F(TokenProviderIsolationTest, EachAccountKeepsItsOwnToken) {
  auto provider = makeProvider();
  CorvenzaToken alice(makeJwt(testNowPlus(minutes(30))), "id-alice");
  CorvenzaToken bob(makeJwt(testNowPlus(minutes(30))), "id-bob");
  HeldRefreshes refreshes;
  provider->setRestoreTokenBlock(refreshes.block());

  provider->setKeychainAccount("alice");
  provider->setToken(alice);
  provider->setKeychainAccount("bob");
  EXPECT_EQ(provider->keychainAccount(), "bob");
  EXPECT_FALSE(provider->token());  // alice's token is never handed to bob

  std::optional<CorvenzaToken> got;
  provider->ensureToken([&](auto token, auto) { got = token; });
  ASSERT_EQ(refreshes.count(), 1u);
  refreshes.answer(0, bob);
  EXPECT_EQ(got, bob);

  // Back to alice: her token comes from the keychain, with no refresh.
  provider->setKeychainAccount("alice");
  provider->ensureToken([&](auto token, auto) { got = token; });
  EXPECT_EQ(refreshes.count(), 1u);
  EXPECT_EQ(got, alice);

  // The default account keeps the plain entry names; others have their own pair.
  auto entries = store->entries();
  EXPECT_EQ(entries.count("JwtToken"), 0u);
  std::set<std::string> identities;
  for (const auto& [name, value] : entries) {
    if (name.rfind("IdentityId", 0) == 0) identities.insert(value);
  }
  EXPECT_EQ(identities, (std::set<std::string>{"id-alice", "id-bob"}));

  // Clearing forgets only the current account's token.
  provider->clear();
  provider->setKeychainAccount("bob");
  provider->loadFromKeyChain();
  EXPECT_EQ(provider->token(), bob);
}

TEST_F(TokenProviderIsolationTest, RefreshAnsweringAfterAnAccountSwitchIsStoredForItsOwnAccount) {
  auto provider = makeProvider();
  HeldRefreshes refreshes;
  provider->setRestoreTokenBlock(refreshes.block());
  provider->setKeychainAccount("alice");
  std::optional<CorvenzaToken> aliceAnswer;
  provider->restoreToken([&](auto token, auto) { aliceAnswer = token; });

  provider->setKeychainAccount("bob");
  CorvenzaToken alice(makeJwt(testNowPlus(minutes(30))), "id-alice");
  refreshes.answer(0, alice);

  EXPECT_EQ(aliceAnswer, alice);  // the caller who asked still gets it
  EXPECT_FALSE(provider->token());
  provider->setKeychainAccount("alice");
  provider->loadFromKeyChain();
  EXPECT_EQ(provider->token(), alice);
}

TEST_F(TokenProviderIsolationTest, ConcurrentCallersShareOneRefresh) {
  auto provider = makeProvider();
  HeldRefreshes refreshes;
  provider->setRestoreTokenBlock(refreshes.block());

  std::mutex mutex;
  std::vector<std::optional<CorvenzaToken>> answers;
  auto record = [&](std::optional<CorvenzaToken> token, std::optional<Error>) {
    std::lock_guard lock(mutex);
    answers.push_back(std::move(token));
  };
  std::vector<std::thread> callers;
  for (int i = 0; i < 4; ++i) callers.emplace_back([&] { provider->ensureToken(record); });
  for (auto& caller : callers) caller.join();
  provider->restoreToken(record);
  ASSERT_EQ(refreshes.count(), 1u);

  CorvenzaToken fresh(makeJwt(testNowPlus(minutes(30))), "id-1");
  refreshes.answer(0, fresh);
  EXPECT_EQ(answers, std::vector<std::optional<CorvenzaToken>>(5, fresh));

  // Once answered, the next stale token starts a refresh of its own.
  provider->setToken(CorvenzaToken(makeJwt(testNowPlus(minutes(1))), "id-1"));
  provider->ensureToken(record);
  EXPECT_EQ(refreshes.count(), 2u);
}

TEST_F(TokenProviderIsolationTest, RefreshThatNeverAnswersIsAbandonedAfterAMinute) {
  auto provider = makeProvider();
  HeldRefreshes refreshes;
  provider->setRestoreTokenBlock(refreshes.block());
  int answered = 0;
  auto count = [&](auto, auto) { ++answered; };

  provider->ensureToken(count);
  clockOffset = 30;
  provider->ensureToken(count);
  EXPECT_EQ(refreshes.count(), 1u);
  clockOffset = 61;
  provider->ensureToken(count);
  ASSERT_EQ(refreshes.count(), 2u);

  refreshes.answer(1, CorvenzaToken(makeJwt(testNowPlus(minutes(30))), "id"));
  EXPECT_EQ(answered, 1);
  // The abandoned refresh still answers its own callers when it finally does.
  refreshes.answer(0, CorvenzaToken(makeJwt(testNowPlus(minutes(30))), "id"));
  EXPECT_EQ(answered, 3);
}

TEST_F(TokenProviderIsolationTest, ExpiryAtTheEndsOfTheClockIsJudgedWithoutOverflow) {
  auto provider = makeProvider();
  for (std::int64_t exp : {std::numeric_limits<std::int64_t>::min(),
                           std::int64_t{-9'000'000'000'000}, std::int64_t{-1}, std::int64_t{0}}) {
    SCOPED_TRACE(exp);
    provider->setToken(CorvenzaToken(makeJwt(exp), "id"));
    EXPECT_TRUE(provider->isTokenExpired());
    EXPECT_TRUE(provider->isTokenNearlyExpired());
  }
  provider->setToken(CorvenzaToken(makeJwt(std::numeric_limits<std::int64_t>::max()), "id"));
  EXPECT_FALSE(provider->isTokenExpired());
  EXPECT_FALSE(provider->isTokenNearlyExpired());
}

}  // namespace
}  // namespace corvenza

namespace corvenza {
namespace {

TEST_F(TokenProviderIsolationTest, SigningOutLetsARefreshInFlightGo) {
  auto provider = makeProvider();
  HeldRefreshes refreshes;
  provider->setRestoreTokenBlock(refreshes.block());
  std::optional<CorvenzaToken> first;
  provider->ensureToken([&](auto token, auto) { first = token; });
  provider->clear();
  provider->ensureToken([](auto, auto) {});
  ASSERT_EQ(refreshes.count(), 2u);  // the stuck one is not joined

  CorvenzaToken late(makeJwt(testNowPlus(minutes(30))), "id-before-sign-out");
  refreshes.answer(0, late);
  EXPECT_EQ(first, late);  // its caller still hears
  // But it signs nobody in again: the keychain holds what the new session loaded.
  EXPECT_NE(provider->token(), late);
  for (const auto& [name, value] : store->entries()) EXPECT_NE(value, "id-before-sign-out");
}

}  // namespace
}  // namespace corvenza
