#include <corvenza/direct_token_provider.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "auth/token_provider_environment.h"
#include "unit/auth/auth_fakes.h"

namespace corvenza {
namespace {

using test::Answer;
using test::ManualTransport;

class DirectTokenProviderTest : public ::testing::Test {
 protected:
  std::shared_ptr<DirectTokenProvider> makeProvider(const std::string& apiUrl,
                                                    const std::string& apiKey = "key-123") {
    auto environment = std::make_shared<DefaultTokenProvider::Environment>();
    environment->keyStore = store;
    environment->now = [] { return test::testNow(); };
    environment->transport = transport;
    return std::make_shared<DirectTokenProvider>(apiUrl, apiKey, environment);
  }

  // Starts a refresh and answers its request with @p status / @p body.
  Answer refreshAnsweredWith(int status, std::string body) {
    auto provider = makeProvider("https://auth.example.test/v1");
    Answer answer;
    provider->restoreToken(answer.callback());
    transport->respond(transport->requestCount() - 1, status, std::move(body));
    return answer;
  }

  std::shared_ptr<test::FakeKeyStore> store = std::make_shared<test::FakeKeyStore>();
  std::shared_ptr<ManualTransport> transport = std::make_shared<ManualTransport>();
};

TEST_F(DirectTokenProviderTest, BuildsTheTokenRequest) {
  auto provider = makeProvider("https://auth.example.test/v1/");
  EXPECT_EQ(provider->tokenDuration(), 900);
  EXPECT_FALSE(provider->userId());
  provider->restoreToken([](auto, auto) {});

  ASSERT_EQ(transport->requestCount(), 1u);
  auto first = transport->request(0);
  EXPECT_EQ(first.method, "POST");
  EXPECT_EQ(first.url, "https://auth.example.test/v1//token");
  EXPECT_EQ(first.headers, (http::HttpHeaders{{"x-api-key", "key-123"}}));
  EXPECT_EQ(first.body, R"({"user_id":null,"token_duration":900})");

  // Each refresh reads the settings current when it starts.
  provider->setTokenDuration(3600);
  provider->setUserId("user-7");
  provider->restoreToken([](auto, auto) {});
  EXPECT_EQ(transport->request(1).body, R"({"user_id":"user-7","token_duration":3600})");
}

TEST_F(DirectTokenProviderTest, SuccessfulRefreshStoresAndHandsOnTheToken) {
  auto answer = refreshAnsweredWith(
      200, R"({"content":{"token":{"jwt_token":"j.w.t","identity_id":"ap:1","kind":"x"}},
              "other":1})");
  EXPECT_EQ(answer.calls, 1);
  EXPECT_EQ(answer.token, CorvenzaToken("j.w.t", "ap:1"));
  EXPECT_FALSE(answer.error);
  // Stored under this service's and user's own entries, not the plain ones.
  auto entries = store->entries();
  EXPECT_EQ(entries.count("IdentityId"), 0u);
  auto stored = std::find_if(entries.begin(), entries.end(), [](const auto& entry) {
    return entry.first.rfind("IdentityId.", 0) == 0;
  });
  ASSERT_NE(stored, entries.end());
  EXPECT_EQ(stored->second, "ap:1");
}

TEST_F(DirectTokenProviderTest, StoredTokenServesOnlyItsOwnServiceAndUser) {
  const std::string url = "https://auth.example.test/v1";
  const std::string fresh = test::makeJwt(test::testNowPlus(std::chrono::minutes(30)));
  {
    auto alice = makeProvider(url);
    alice->setUserId("alice");
    alice->setToken(CorvenzaToken(fresh, "id-alice"));
  }
  struct Case {
    std::string url;
    std::string key;
    std::optional<std::string> user;
    bool refreshes;
  };
  for (const auto& [apiUrl, key, user, refreshes] :
       {Case{url, "key-123", "alice", false}, Case{url, "key-123", "bob", true},
        Case{url, "key-123", std::nullopt, true},
        Case{"https://other.example.test/v1", "key-123", "alice", true},
        Case{url, "another-applications-key", "alice", true}}) {
    SCOPED_TRACE(apiUrl + " " + key + " " + user.value_or("(none)"));
    auto provider = makeProvider(apiUrl, key);
    provider->setUserId(user);
    const auto before = transport->requestCount();
    std::optional<CorvenzaToken> handed;
    provider->ensureToken([&](auto token, auto) { handed = token; });
    EXPECT_EQ(transport->requestCount() - before, refreshes ? 1u : 0u);
    // A refresh hands nothing over until the service answers.
    EXPECT_EQ(handed, refreshes ? std::nullopt
                                : std::optional<CorvenzaToken>(CorvenzaToken(fresh, "id-alice")));
  }
}

TEST_F(DirectTokenProviderTest, ChangingTheUserTakesEffectAtTheNextEnsureToken) {
  auto provider = makeProvider("https://auth.example.test/v1");
  provider->setUserId("alice");
  provider->setToken(
      CorvenzaToken(test::makeJwt(test::testNowPlus(std::chrono::minutes(30))), "id-alice"));
  provider->setUserId("bob");
  EXPECT_FALSE(provider->token());
  provider->ensureToken([](auto, auto) {});
  ASSERT_EQ(transport->requestCount(), 1u);
  EXPECT_EQ(transport->request(0).body, R"({"user_id":"bob","token_duration":900})");
}

TEST_F(DirectTokenProviderTest, MapsBadAnswersToTheirCodes) {
  struct Case {
    int status;
    const char* body;
    int code;
  };
  for (auto [status, body, code] : {
           Case{200, "", 1999},
           Case{500, "<html>oops</html>", 1999},
           Case{200, R"([1,2])", 2000},
           Case{200, R"({"content":{}})", 2000},
           Case{200, R"({"content":{"token":"j.w.t"}})", 2000},
           Case{200, R"({"content":{"token":{"jwt_token":"j"}}})", 2000},
           Case{200, R"({"content":{"token":{"jwt_token":"j","identity_id":"i","n":5}}})", 2000},
           Case{403, R"({"message":"Forbidden"})", 2000},
       }) {
    SCOPED_TRACE(body);
    auto answer = refreshAnsweredWith(status, body);
    EXPECT_EQ(answer.calls, 1);
    EXPECT_FALSE(answer.token);
    ASSERT_TRUE(answer.error);
    EXPECT_EQ(answer.error->domain(), "CorvenzaError");
    EXPECT_EQ(answer.error->code(), code);
  }
}

TEST_F(DirectTokenProviderTest, FailuresCarryTheirCauseWithoutTheKey) {
  auto refused =
      refreshAnsweredWith(403, R"({"message":"wrong x-api-key key-123 for this service"})");
  ASSERT_TRUE(refused.error);
  EXPECT_EQ(refused.error->code(), 2000);
  EXPECT_EQ(refused.error->userInfoValue(error_info::kService), "authentication");
  EXPECT_EQ(refused.error->userInfoValue(error_info::kHttpStatus), "403");
  EXPECT_EQ(refused.error->userInfoValue(error_info::kServiceMessage),
            "wrong x-api-key [redacted] for this service");

  auto provider = makeProvider("https://auth.example.test");
  std::optional<Error> unreachable;
  provider->restoreToken([&](auto, auto error) { unreachable = error; });
  transport->respond(transport->requestCount() - 1,
                     http::makeTransportError(http::kTransportCannotConnect, "refused"));
  ASSERT_TRUE(unreachable);
  EXPECT_EQ(unreachable->code(), 1999);
  EXPECT_EQ(unreachable->userInfoValue(error_info::kUnderlyingDomain), http::kTransportErrorDomain);
  EXPECT_EQ(unreachable->userInfoValue(error_info::kUnderlyingError), "refused");
  EXPECT_FALSE(unreachable->userInfoValue(error_info::kHttpStatus));
}

TEST_F(DirectTokenProviderTest, TransportFailureIsAnInvalidResponse) {
  auto provider = makeProvider("https://auth.example.test");
  Answer answer;
  provider->restoreToken(answer.callback());
  transport->respond(0, http::makeTransportError(http::kTransportCannotConnect, "refused"));
  EXPECT_EQ(answer.calls, 1);
  ASSERT_TRUE(answer.error);
  EXPECT_EQ(answer.error->code(), 1999);
}

TEST_F(DirectTokenProviderTest, UnsendableUrlAnswersWithAnErrorAndSendsNothing) {
  for (const char* apiUrl : {"", "auth.example.test", "https://", "https://:443", "ftp://host",
                             "https://auth example.test"}) {
    SCOPED_TRACE(apiUrl);
    auto provider = makeProvider(apiUrl);
    Answer answer;
    provider->restoreToken(answer.callback());
    EXPECT_EQ(answer.calls, 1);
    ASSERT_TRUE(answer.error);
    EXPECT_EQ(answer.error->code(), 2000);
  }
  EXPECT_EQ(transport->requestCount(), 0u);
}

TEST_F(DirectTokenProviderTest, ErrorsNeverQuoteTheApiKeyOrToken) {
  auto answer = refreshAnsweredWith(200, R"({"content":{"token":{"jwt_token":"secret.jwt"}}})");
  ASSERT_TRUE(answer.error);
  EXPECT_THAT(answer.error->localizedDescription(), ::testing::Not(::testing::HasSubstr("secret")));
  EXPECT_THAT(answer.error->localizedDescription(),
              ::testing::Not(::testing::HasSubstr("key-123")));
}

}  // namespace
}  // namespace corvenza
