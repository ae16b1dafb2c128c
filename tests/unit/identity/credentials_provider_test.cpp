#include "platform/identity/credentials_provider.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>

#include "platform/identity/identity_service_messages.h"
#include "unit/auth/auth_fakes.h"

namespace corvenza::identity {
namespace {

using std::chrono::minutes;
using std::chrono::seconds;
using CredentialsTask = dispatch::Task<sigv4::Credentials>;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kEndpoint = "http://127.0.0.1:9/";
constexpr const char* kJwt = "header.payload.signature";

// Hands out a fixed token and identity id, or a fixed error.
class FakeBridge final : public CredentialsProviderHelper {
 public:
  explicit FakeBridge(std::string pool = "pool", std::string identity = "id-from-token")
      : CredentialsProviderHelper(AWSRegionType::APNortheast1, std::move(pool), true),
        identity_(std::move(identity)) {}
  dispatch::Task<std::string> token() override {
    ++calls;
    if (failure) return dispatch::Task<std::string>::failed(*failure);
    setIdentityId(identity_);
    return dispatch::Task<std::string>::completed(kJwt);
  }
  std::shared_ptr<device::KeyStore> credentialStore() const override { return store; }
  std::atomic<int> calls{0};
  std::optional<Error> failure;
  std::shared_ptr<device::KeyStore> store;

 private:
  const std::string identity_;
};

std::string credentialsBody(const std::string& expiration, const std::string& identityId) {
  return R"({"IdentityId":")" + identityId +
         R"(","Credentials":{"AccessKeyId":"ASIAEXAMPLE","SecretKey":"secret-key",)"
         R"("SessionToken":"session-token","Expiration":)" +
         expiration + "}}";
}

class CredentialsProviderTest : public ::testing::Test {
 protected:
  CredentialsProviderTest() {
    CredentialsProvider::Options options;
    options.now = [this] { return test::testNow() + seconds(elapsed.load()); };
    provider = CredentialsProvider::create(AWSRegionType::APNortheast1, bridge, transport,
                                           kEndpoint, options);
  }

  // Seconds since testNow(), as a JSON number.
  static std::string expiresIn(seconds from) { return std::to_string(test::testNowPlus(from)); }

  static sigv4::Credentials valueOf(const CredentialsTask& task) {
    EXPECT_TRUE(task.isCompleted());
    auto outcome = task.outcome();
    if (!outcome || !outcome->ok()) {
      ADD_FAILURE() << "credentials task did not succeed";
      return {};
    }
    return outcome->value();
  }

  std::atomic<long> elapsed{0};
  std::shared_ptr<FakeBridge> bridge = std::make_shared<FakeBridge>();
  std::shared_ptr<test::ManualTransport> transport = std::make_shared<test::ManualTransport>();
  std::shared_ptr<CredentialsProvider> provider;
};

TEST_F(CredentialsProviderTest, SendsAnUnsignedGetCredentialsForIdentity) {
  provider->getCredentials();
  ASSERT_EQ(transport->requestCount(), 1u);
  auto request = transport->request(0);
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.url, kEndpoint);
  EXPECT_EQ(http::findHeader(request.headers, "Content-Type"), "application/x-amz-json-1.1");
  EXPECT_EQ(http::findHeader(request.headers, "X-Amz-Target"),
            "AWSCognitoIdentityService.GetCredentialsForIdentity");
  EXPECT_FALSE(http::findHeader(request.headers, "Authorization"));
  EXPECT_EQ(request.body,
            R"({"IdentityId":"id-from-token","Logins":{"cognito-identity.amazonaws.com":")" +
                std::string(kJwt) + R"("}})");
}

TEST_F(CredentialsProviderTest, ConcurrentCallersShareOneRefreshAndThenTheCache) {
  constexpr int kCallers = 8;
  std::vector<CredentialsTask> tasks(kCallers, CredentialsTask::failed(Error("unset", 0)));
  std::latch start(kCallers);
  std::vector<std::thread> callers;
  for (int i = 0; i < kCallers; ++i) {
    callers.emplace_back([&, i] {
      start.arrive_and_wait();
      tasks[i] = provider->getCredentials();
    });
  }
  for (auto& caller : callers) caller.join();

  ASSERT_EQ(transport->requestCount(), 1u);
  EXPECT_EQ(bridge->calls.load(), 1);
  transport->respond(0, 200, credentialsBody("1.7000036E9", "id-merged"));
  for (auto& task : tasks) {
    auto credentials = valueOf(task);
    EXPECT_EQ(credentials.accessKeyId, "ASIAEXAMPLE");
    EXPECT_EQ(credentials.secretAccessKey, "secret-key");
    EXPECT_EQ(credentials.sessionToken, "session-token");
  }

  // The exponent-notation expiry is an hour ahead of the test clock, so the cache serves.
  EXPECT_EQ(valueOf(tasks[0]).expiration, test::testNow() + minutes(60));
  auto again = provider->getCredentials();
  EXPECT_EQ(valueOf(again).accessKeyId, "ASIAEXAMPLE");
  EXPECT_EQ(transport->requestCount(), 1u);
  // The identity id the service answered with wins over the one sent.
  EXPECT_EQ(bridge->identityId(), "id-merged");
  EXPECT_EQ(provider->identityId(), "id-merged");
}

TEST_F(CredentialsProviderTest, RefreshesOnceLessThanFiveMinutesAreLeft) {
  provider->getCredentials();
  transport->respond(0, 200, credentialsBody(expiresIn(minutes(10)), "id"));

  elapsed = 299;  // 5 min 1 s left
  EXPECT_TRUE(provider->getCredentials().isCompleted());
  EXPECT_EQ(transport->requestCount(), 1u);

  elapsed = 301;  // 4 min 59 s left
  auto refreshed = provider->getCredentials();
  EXPECT_FALSE(refreshed.isCompleted());
  EXPECT_EQ(transport->requestCount(), 2u);
}

TEST_F(CredentialsProviderTest, ClearingDropsTheCacheAndAnyRefreshInFlight) {
  provider->getCredentials();
  transport->respond(0, 200, credentialsBody(expiresIn(minutes(60)), "id"));
  provider->clearCredentials();
  auto inFlight = provider->getCredentials();
  ASSERT_EQ(transport->requestCount(), 2u);

  // Cleared while in flight: the waiting caller still gets its answer, the cache does not.
  provider->clearKeychain();
  transport->respond(1, 200, credentialsBody(expiresIn(minutes(60)), "id"));
  EXPECT_EQ(valueOf(inFlight).accessKeyId, "ASIAEXAMPLE");
  EXPECT_EQ(provider->identityId(), "");
  provider->getCredentials();
  EXPECT_EQ(transport->requestCount(), 3u);
}

// What one process fetched, the next one signs with, as long as it is the
// same identity's, pool's and service's and has time left.
TEST_F(CredentialsProviderTest, KeptCredentialsServeTheNextProcessOfTheSameIdentityOnly) {
  auto store = std::make_shared<test::FakeKeyStore>();
  bridge->store = store;
  provider->getCredentials();
  transport->respond(0, 200, credentialsBody(expiresIn(minutes(60)), "id-from-token"));
  ASSERT_THAT(store->get("CloudCredentials").value_or(""), HasSubstr("secret-key"));

  struct Case {
    const char* name;
    std::string pool = "pool";
    std::string identity = "id-from-token";
    std::string endpoint = kEndpoint;
    long elapsed = 0;
    bool used = true;
  };
  const Case cases[] = {
      {"the same identity"},
      {"another identity", "pool", "id-other", kEndpoint, 0, false},
      {"another pool", "pool-2", "id-from-token", kEndpoint, 0, false},
      {"another identity service", "pool", "id-from-token", "http://127.0.0.1:10/", 0, false},
      {"less than the margin left", "pool", "id-from-token", kEndpoint, 56 * 60, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto next = std::make_shared<FakeBridge>(c.pool, c.identity);
    next->store = store;
    auto nextTransport = std::make_shared<test::ManualTransport>();
    CredentialsProvider::Options options;
    options.now = [&c] { return test::testNow() + seconds(c.elapsed); };
    auto process = CredentialsProvider::create(AWSRegionType::APNortheast1, next, nextTransport,
                                               c.endpoint, options);
    auto task = process->getCredentials();
    EXPECT_EQ(nextTransport->requestCount(), c.used ? 0u : 1u);
    if (c.used) {
      EXPECT_EQ(valueOf(task).secretAccessKey, "secret-key");
    }
  }

  // Forgetting other credentials keeps them; forgetting them or signing out drops them.
  provider->forget(sigv4::Credentials{"ASIAOTHER", {}, {}, {}});
  EXPECT_TRUE(store->get("CloudCredentials"));
  provider->forget(sigv4::Credentials{"ASIAEXAMPLE", {}, {}, {}});
  EXPECT_FALSE(store->get("CloudCredentials"));
  provider->getCredentials();
  transport->respond(1, 200, credentialsBody(expiresIn(minutes(60)), "id-from-token"));
  provider->clearKeychain();
  EXPECT_FALSE(store->get("CloudCredentials"));

  store->set("{not json", "CloudCredentials");
  provider->getCredentials();
  EXPECT_EQ(transport->requestCount(), 3u);
}

TEST_F(CredentialsProviderTest, ServiceErrorIsReportedWithoutTheTokenAndNotCached) {
  auto failed = provider->getCredentials();
  transport->respond(0, 400,
                     R"({"__type":"com.amazonaws.cognito#NotAuthorizedException:http://x",)"
                     R"("message":"Invalid login token. Token ')" +
                         std::string(kJwt) + R"(' is expired."})");
  ASSERT_TRUE(failed.isCompleted());
  Error error = failed.outcome()->error();
  EXPECT_EQ(error.domain(), kIdentityServiceErrorDomain);
  EXPECT_EQ(error.code(), 400);
  EXPECT_THAT(error.localizedDescription(), HasSubstr("NotAuthorizedException: Invalid login"));
  EXPECT_THAT(error.localizedDescription(), Not(HasSubstr(kJwt)));
  EXPECT_EQ(error.userInfo()->at("type"), "NotAuthorizedException");

  provider->getCredentials();
  EXPECT_EQ(transport->requestCount(), 2u);
}

TEST_F(CredentialsProviderTest, BridgeAndTransportFailuresPassThrough) {
  bridge->failure = makeTokenFetchError();
  auto noToken = provider->getCredentials();
  ASSERT_TRUE(noToken.isCompleted());
  EXPECT_EQ(noToken.outcome()->error(), makeTokenFetchError());
  EXPECT_EQ(transport->requestCount(), 0u);

  bridge->failure.reset();
  auto noNetwork = provider->getCredentials();
  auto down = http::makeTransportError(http::kTransportCannotConnect, "connection refused");
  transport->respond(0, down);
  EXPECT_EQ(noNetwork.outcome()->error(), down);
}

TEST_F(CredentialsProviderTest, UnusableSuccessAnswersAreInvalidResponses) {
  for (const char* body : {"not json", R"({"IdentityId":"id"})",
                           R"({"Credentials":{"AccessKeyId":"A","SecretKey":"S"}})",
                           R"({"Credentials":{"AccessKeyId":"A","SecretKey":"S",)"
                           R"("SessionToken":"T","Expiration":"soon"}})"}) {
    SCOPED_TRACE(body);
    auto task = provider->getCredentials();
    transport->respond(transport->requestCount() - 1, 200, body);
    ASSERT_TRUE(task.isCompleted());
    EXPECT_EQ(task.outcome()->error().code(), 1999);
  }
}

}  // namespace
}  // namespace corvenza::identity

namespace corvenza::identity {
namespace {

// A bridge whose account the test switches, as a change of user does.
class SwitchingBridge final : public CredentialsProviderHelper {
 public:
  SwitchingBridge() : CredentialsProviderHelper(AWSRegionType::APNortheast1, "pool", true) {}
  dispatch::Task<std::string> token() override {
    setIdentityId("id-" + accountKey());
    return dispatch::Task<std::string>::completed(kJwt);
  }
  std::string accountKey() const override {
    std::lock_guard lock(mutex);
    return account;
  }
  void switchTo(std::string next) {
    std::lock_guard lock(mutex);
    account = std::move(next);
  }

 private:
  mutable std::mutex mutex;
  std::string account = "alice";
};

TEST(CredentialsProviderAccountTest, ChangeOfAccountDropsThePreviousUsersCredentials) {
  auto bridge = std::make_shared<SwitchingBridge>();
  auto transport = std::make_shared<test::ManualTransport>();
  CredentialsProvider::Options options;
  options.now = [] { return test::testNow(); };
  auto provider = CredentialsProvider::create(AWSRegionType::APNortheast1, bridge, transport,
                                              kEndpoint, options);
  const auto expiration = std::to_string(test::testNowPlus(minutes(60)));

  auto first = provider->getCredentials();
  transport->respond(0, 200, credentialsBody(expiration, "id-alice"));
  ASSERT_TRUE(first.isCompleted());
  EXPECT_EQ(provider->identityId(), "id-alice");

  // A refresh of alice's still in flight when bob signs in is not bob's.
  bridge->switchTo("carol");
  auto carol = provider->getCredentials();
  bridge->switchTo("bob");
  auto bob = provider->getCredentials();
  ASSERT_EQ(transport->requestCount(), 3u);
  EXPECT_THAT(transport->request(2).body, HasSubstr("id-bob"));
  transport->respond(2, 200, credentialsBody(expiration, "id-bob"));
  transport->respond(1, 200, credentialsBody(expiration, "id-carol"));
  EXPECT_EQ(provider->identityId(), "id-bob");

  // Bob's credentials are the cached ones now.
  provider->getCredentials();
  EXPECT_EQ(transport->requestCount(), 3u);
}

}  // namespace
}  // namespace corvenza::identity
