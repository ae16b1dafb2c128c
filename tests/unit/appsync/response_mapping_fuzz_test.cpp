// Randomized answers of the GraphQL endpoint: whatever the status, headers and
// body, the mapping ends in a result or in an error that describes it, and no
// text taken from the answer quotes what the request held secret.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "platform/appsync/client_error.h"
#include "platform/appsync/graphql_error.h"
#include "platform/appsync/response_mapping.h"
#include "testkit/mutations.h"

namespace corvenza::appsync {
namespace {

using nlohmann::json;

const std::string kToken = "SESSIONTOKEN7f3a9c1e";
const std::string kSignature = "5d1c0e9b8a7f6e5d4c3b2a1908f7e6d5c4b3a29180f7e6d5c4b3a2918f7e6d5c";
const std::string kAuthorization =
    "AWS4-HMAC-SHA256 Credential=AKID/20240101/eu-west-1/appsync/aws4_request, "
    "SignedHeaders=host;x-amz-date, Signature=" +
    kSignature;

http::HttpRequest signedRequest() {
  http::HttpRequest sent;
  sent.method = "POST";
  sent.headers = {{"Authorization", kAuthorization}, {"X-Amz-Security-Token", kToken}};
  return sent;
}

// Answers a service might give, echoing the secrets where a careless one would.
std::vector<std::string> sampleBodies() {
  return {
      R"({"data":{"getBodysizeEstimation":{"id":"r1","status":"requested","age":30}}})",
      R"({"data":null,"errors":[{"message":"gone","errorType":"NotFound",)"
      R"("path":["getBodysizeEstimation","items",0],"locations":[{"line":2,"column":3}]}]})",
      R"({"data":{"a":1},"errors":[{"message":"Signature )" + kSignature +
          R"( is stale",)"
          R"("errorType":")" +
          kToken + R"("}]})",
      R"({"errors":[{"errorType":"UnauthorizedException","message":"Signature )" + kSignature +
          R"( does not match\nPOST\n/graphql\nx-amz-security-token:)" + kToken + R"("}]})",
      R"({"message":"Token )" + kToken + R"( expired","__type":"ExpiredTokenException"})",
      R"({"Message":"Header )" + kAuthorization + R"( refused"})",
      R"({"errors":{"message":"one object","errorType":"X","path":"p","locations":{"line":1}}})",
  };
}

bool quotesSecret(const std::string& text) {
  for (const auto& secret : {kToken, kSignature, kAuthorization}) {
    if (text.find(secret) != std::string::npos) return true;
  }
  return false;
}

void expectNoSecret(const Error& error) {
  EXPECT_FALSE(error.localizedDescription().empty());
  EXPECT_FALSE(quotesSecret(error.localizedDescription())) << error.localizedDescription();
  if (error.userInfo()) {
    for (const auto& [key, value] : *error.userInfo()) {
      EXPECT_FALSE(quotesSecret(value)) << key << ": " << value;
    }
  }
}

void expectMapped(const http::HttpResponse& response) {
  SCOPED_TRACE(testing::Message() << response.status << " " << response.body);
  const auto mapped = mapGraphQLResponse(response, signedRequest());
  const bool success = response.status >= 200 && response.status <= 299;
  const json body = parseResponseJson(response.body);
  if (!mapped) {
    const Error& error = mapped.error();
    EXPECT_EQ(error.domain(), kGraphQLClientErrorDomain);
    EXPECT_EQ(error.code(), success ? kGraphQLClientResponseNotJSON : response.status);
    if (success) {
      EXPECT_FALSE(body.is_object());
    }
    // Only the first line of a service text is kept.
    EXPECT_EQ(error.localizedDescription().find('\n'), std::string::npos);
    expectNoSecret(error);
    return;
  }
  ASSERT_TRUE(success);
  ASSERT_TRUE(body.is_object());
  const json data = body.value("data", json());
  EXPECT_EQ(mapped->data.value_or(json()), data);
  const json errors = body.value("errors", json());
  if (errors.is_null()) {
    EXPECT_FALSE(mapped->errors);
    return;
  }
  ASSERT_TRUE(mapped->errors);
  EXPECT_EQ(mapped->errors->size(), errors.is_array() ? errors.size() : 1u);
  for (const auto& error : *mapped->errors) {
    EXPECT_EQ(error.domain(), kGraphQLErrorDomain);
    expectNoSecret(error);
  }
}

TEST(ResponseMappingFuzzTest, AnyAnswerMapsToAResultOrAnErrorWithoutSecrets) {
  test::Mutator mutator(20240611);
  const std::vector<int> statuses = {200, 201, 204, 299, 199, 300, 400, 401,
                                     403, 404, 429, 500, 502, 503, 599, 0};
  const std::vector<std::string> errorTypes = {"InvalidSignatureException:http://internal/",
                                               kToken + "Exception", "Bad" + kSignature + ":x",
                                               "UnauthorizedException", ""};
  const auto count = test::forEachVariant(sampleBodies(), mutator, 700, [&](std::string_view body) {
    http::HttpResponse response{mutator.pick(statuses), {}, std::string(body)};
    if (mutator.oneIn(3)) {
      response.headers.emplace_back("x-amzn-ErrorType", mutator.pick(errorTypes));
    }
    expectMapped(response);
  });
  EXPECT_GT(count, 3000u);

  // Deep nesting where a message, the data or the errors should be: refused
  // past the limit, as the cache and the error texts recurse per level.
  EXPECT_TRUE(mapGraphQLResponse(
      {200, {}, R"({"data":)" + test::nestedArrays(kMaxResponseDepth - 1) + "}"}, {}));
  EXPECT_EQ(
      mapGraphQLResponse({200, {}, R"({"data":)" + test::nestedArrays(kMaxResponseDepth) + "}"}, {})
          .error()
          .code(),
      kGraphQLClientResponseNotJSON);
  const std::string deep = test::nestedArrays(100'000);
  for (int status : {200, 400}) {
    for (const std::string& body :
         {R"({"errors":[{"message":)" + deep + R"(,"path":)" + deep + "}]}",
          R"({"data":)" + deep + "}", R"({"errors":)" + deep + "}", deep}) {
      expectMapped({status, {}, body});
    }
  }
}

// The "errors" member alone, in every shape a mutation gives it.
TEST(ResponseMappingFuzzTest, ErrorsOfAnyShapeGiveOneErrorPerEntry) {
  test::Mutator mutator(77);
  const json sample = json::parse(R"([
    {"message":"a","errorType":"T","path":["x",0,"y"],"locations":[{"line":1,"column":2}]},
    {"message":7,"errorType":null,"path":"p","locations":{"line":"3"}},
    "plain text", {}, null])");
  for (int round = 0; round < 2000; ++round) {
    const json errors = json::parse(mutator.mutateJson(sample).text, nullptr, false);
    if (errors.is_discarded()) continue;
    const auto parsed = parseGraphQLErrors(errors);
    ASSERT_EQ(parsed.size(), errors.is_null() ? 0u : errors.is_array() ? errors.size() : 1u);
    for (std::size_t i = 0; i < parsed.size(); ++i) {
      const json& entry = errors.is_array() ? errors[i] : errors;
      const json message = entry.is_object() ? entry.value("message", json()) : entry;
      const std::string expected = message.is_string() ? message.get<std::string>() : "";
      if (!expected.empty()) {
        EXPECT_EQ(parsed[i].localizedDescription(), expected);
      }
      EXPECT_FALSE(parsed[i].localizedDescription().empty());
    }
  }
}

// A secret short enough to occur in the redaction mark itself is still
// replaced once per occurrence in the service text.
TEST(ResponseMappingFuzzTest, ShortSecretsAreRedactedOncePerOccurrence) {
  http::HttpRequest sent;
  for (const auto& [token, expected] : std::vector<std::pair<std::string, std::string>>{
           {"a", "b[redacted]d [redacted]g[redacted]in"}, {"d", "ba[redacted] again"}}) {
    sent.headers = {{"X-Amz-Security-Token", token}};
    const auto status = mapGraphQLResponse({403, {}, R"({"message":"bad again"})"}, sent);
    EXPECT_EQ(status.error().localizedDescription(), expected) << token;
    const auto ok =
        mapGraphQLResponse({200, {}, R"({"data":null,"errors":[{"message":"bad again"}]})"}, sent);
    EXPECT_EQ(ok->errors->at(0).localizedDescription(), expected) << token;
  }
}

}  // namespace
}  // namespace corvenza::appsync
