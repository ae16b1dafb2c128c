#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "client_documents.h"
#include "context/emulator_context.h"
#include "gateway/estimation_backend.h"
#include "platform/sigv4/signer.h"

namespace corvenza::emulator::testing {
namespace {

constexpr const char* kIdentity = "ap-northeast-1:cccccccc-0000-4000-8000-000000000003";
constexpr const char* kUrl = "http://127.0.0.1:9/graphql";

class GraphQLHttpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto pattern = (std::filesystem::temp_directory_path() / "corvenza-gqlhttp-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    auto identities = IdentityStore::open(dir_ / "identities.sqlite3", "ap-northeast-1");
    ASSERT_TRUE(identities.ok());
    context_ =
        std::make_unique<EmulatorContext>(EmulatorOptions{}, std::move(*identities), "test-secret");
    auto backend = gql::EstimationBackend::start(*context_, dir_, std::chrono::hours(1));
    ASSERT_TRUE(backend.ok());
    backend_ = std::move(*backend);
    const auto now = context_->clock.now();
    issued_ = context_->credentials.issue(kIdentity, now, now + std::chrono::hours(1));
  }
  void TearDown() override {
    backend_.reset();
    context_.reset();
    std::filesystem::remove_all(dir_);
  }

  http::HttpRequest signedRequest(const std::string& body, const std::string& secret) {
    http::HttpRequest request;
    request.method = "POST";
    request.url = kUrl;
    request.body = body;
    request.headers = {{"Content-Type", "application/json"}};
    sigv4::SigningParams params;
    params.region = "ap-northeast-1";
    params.service = "appsync";
    params.credentials = {issued_.accessKeyId, secret, issued_.sessionToken, issued_.expiration};
    params.time = context_->clock.now();
    EXPECT_TRUE(sigv4::signRequest(request, params).ok());
    return request;
  }

  Response send(const http::HttpRequest& signedRequest) {
    auto request =
        makeRequest(signedRequest.method, "/graphql", signedRequest.headers, signedRequest.body);
    request.subpath = "";
    return backend_->httpService()->handle(request);
  }

  std::filesystem::path dir_;
  std::unique_ptr<EmulatorContext> context_;
  std::unique_ptr<gql::EstimationBackend> backend_;
  IssuedCredentials issued_;
};

TEST_F(GraphQLHttpTest, SignedRequestsRunAsTheCredentialsIdentity) {
  const nlohmann::json create = {
      {"query", clientRequestString("create_bodysize_estimation")},
      {"variables", {{"input", {{"age", 30}, {"height", 170}, {"weight", 60}}}}}};
  const auto response = send(signedRequest(create.dump(), issued_.secretKey));
  ASSERT_EQ(response.status, 200) << response.body;
  const auto body = nlohmann::json::parse(response.body);
  EXPECT_EQ(body["data"]["createBodysizeEstimation"]["userId"], kIdentity);
}

TEST_F(GraphQLHttpTest, RefusesMissingUnknownAndWrongCredentials) {
  const std::string body = R"({"query":"{ __typename }"})";
  auto unsigned_ = makeRequest("POST", "/graphql", {{"Content-Type", "application/json"}}, body);
  unsigned_.subpath = "";
  const auto missing = backend_->httpService()->handle(unsigned_);
  EXPECT_EQ(missing.status, 401);
  EXPECT_EQ(nlohmann::json::parse(missing.body)["errors"][0]["errorType"], "UnauthorizedException");

  const auto wrongSecret = send(signedRequest(body, issued_.secretKey + "x"));
  EXPECT_EQ(wrongSecret.status, 403);
  EXPECT_EQ(http::findHeader(wrongSecret.headers, "x-amzn-ErrorType"), "InvalidSignatureException");

  auto tampered = signedRequest(body, issued_.secretKey);
  tampered.body = R"({"query":"{ __typename  }"})";
  EXPECT_EQ(send(tampered).status, 403);

  context_->clock.advance(2 * 3600);  // the credentials have expired
  const auto expired = send(signedRequest(body, issued_.secretKey));
  EXPECT_EQ(expired.status, 401);
  EXPECT_EQ(expired.body.find(issued_.secretKey), std::string::npos);
  EXPECT_EQ(expired.body.find(issued_.sessionToken), std::string::npos);
}

TEST_F(GraphQLHttpTest, RejectsBodiesThatAreNoGraphQLRequest) {
  EXPECT_EQ(send(signedRequest("{\"variables\":{}}", issued_.secretKey)).status, 400);
  EXPECT_EQ(send(signedRequest("{\"query\":\"{ nope }\"}", issued_.secretKey)).status, 200);
}

// Variables nested tens of thousands of levels deep once overflowed the stack
// of a server thread; now they are refused before they become a value.
TEST_F(GraphQLHttpTest, RefusesDeeplyNestedVariablesCleanly) {
  for (const std::size_t depth : {65u, 30'000u, 60'000u, 200'000u}) {
    SCOPED_TRACE(depth);
    const auto body = R"({"query":"query Q($v: Int) { __typename }","variables":{"v":)" +
                      std::string(depth, '[') + std::string(depth, ']') + "}}";
    const auto response = send(signedRequest(body, issued_.secretKey));
    EXPECT_EQ(response.status, 400);
    const auto parsed = nlohmann::json::parse(response.body);
    EXPECT_EQ(parsed["errors"][0]["errorType"], "MalformedHttpRequestException");
    EXPECT_NE(parsed["errors"][0]["message"].get<std::string>().find("deeper than 64"),
              std::string::npos);
  }
  // A real request's few levels pass.
  const nlohmann::json filter = {{"status", {{"eq", "completed"}}},
                                 {"height", {{"between", {100, 200}}}}};
  const nlohmann::json list = {
      {"query",
       "query L($f: TableBodysizeEstimationFilterInput) { listBodysizeEstimations(filter: $f) "
       "{ items { id } } }"},
      {"variables", {{"f", filter}}}};
  const auto response = send(signedRequest(list.dump(), issued_.secretKey));
  EXPECT_EQ(response.status, 200);
  EXPECT_FALSE(nlohmann::json::parse(response.body).contains("errors")) << response.body;
}

}  // namespace
}  // namespace corvenza::emulator::testing
