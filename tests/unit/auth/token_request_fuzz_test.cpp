// Randomized answers of the authentication service: each gives the token as
// sent or an error with the documented code, and the service message kept
// for people never shows the API key, not even in part.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "auth/token_request.h"
#include "testkit/mutations.h"

namespace corvenza::auth {
namespace {

using nlohmann::json;

const std::string kApiKey = "k3y-5ecret-0123456789abcdefghijklmnopqrstuv";
const int kInvalidResponse = CorvenzaError::codeFor(CorvenzaErrorReason::invalidResponse);
const int kUnexpected = CorvenzaError::codeFor(CorvenzaErrorReason::unexpectedError);

std::vector<std::string> sampleBodies() {
  return {
      R"({"content":{"token":{"jwt_token":"eyJhbGciOiJSUzI1NiJ9.e30.c2ln",)"
      R"("identity_id":"eu-west-1:0000-aaaa"}},"status":"ok"})",
      R"({"content":{"token":{"jwt_token":"","identity_id":"","extra":"x"}}})",
      R"({"message":"Forbidden"})",
      R"({"message":"Invalid key )" + kApiKey + R"(","content":null})",
      R"({"message":")" + std::string(190, 'm') + kApiKey + R"("})",
  };
}

std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// Checks the token or the error of @p body as both readers give it.
void expectReadOrRefused(const http::HttpResponse& response) {
  SCOPED_TRACE(testing::Message() << response.status << " " << response.body.substr(0, 300));
  const auto token = parseTokenResponse(response.body);
  const json body = json::parse(response.body, nullptr, /*allow_exceptions=*/false);
  if (token.ok()) {
    ASSERT_TRUE(body.is_object());
    const json& fields = body.at("content").at("token");
    EXPECT_EQ(token->jwtToken, fields.at("jwt_token"));
    EXPECT_EQ(token->identityId, fields.at("identity_id"));
    // What is stored is read back the same.
    EXPECT_EQ(CorvenzaToken::fromJson(token->toJson()), token.value());
  } else {
    EXPECT_EQ(token.error().domain(), CorvenzaError::kDomain);
    EXPECT_EQ(token.error().code(), body.is_discarded() ? kInvalidResponse : kUnexpected);
  }

  const auto answer = readTokenAnswer(response, kApiKey);
  ASSERT_EQ(answer.ok(), token.ok());
  if (answer.ok()) return;
  const Error& error = answer.error();
  EXPECT_EQ(error.code(), token.error().code());
  EXPECT_FALSE(error.localizedDescription().empty());
  EXPECT_EQ(error.userInfoValue(error_info::kService), "authentication");
  EXPECT_EQ(error.userInfoValue(error_info::kHttpStatus), std::to_string(response.status));
  if (const auto message = error.userInfoValue(error_info::kServiceMessage)) {
    EXPECT_LE(message->size(), 200u);
    // Unless the answer itself holds only a piece of the key.
    if (occurrences(response.body, kApiKey.substr(0, 8)) == occurrences(response.body, kApiKey)) {
      EXPECT_EQ(message->find(kApiKey.substr(0, 8)), std::string::npos) << *message;
    }
    if (test::isValidUtf8(response.body)) {
      EXPECT_TRUE(test::isValidUtf8(*message)) << *message;
    }
  }
}

TEST(TokenRequestFuzzTest, AnyAnswerGivesTheTokenAsSentOrADocumentedError) {
  test::Mutator mutator(6502);
  const std::vector<int> statuses = {200, 201, 400, 401, 403, 429, 500, 502};
  const auto count = test::forEachVariant(sampleBodies(), mutator, 800, [&](std::string_view body) {
    expectReadOrRefused({mutator.pick(statuses), {}, std::string(body)});
  });
  EXPECT_GT(count, 3500u);

  // The key anywhere in a message of any length, and tokens of any text.
  for (int round = 0; round < 1500; ++round) {
    std::string message = mutator.randomUtf8(mutator.oneIn(2) ? 10 : 250);
    message += kApiKey + mutator.randomUtf8(20);
    expectReadOrRefused({403, {}, json{{"message", message}}.dump()});
    const json fields = {{"jwt_token", mutator.randomUtf8(40)},
                         {"identity_id", mutator.randomUtf8(10)}};
    expectReadOrRefused({200, {}, json{{"content", {{"token", fields}}}}.dump()});
  }

  // No answer at all: the transport's error is carried along.
  const auto failed =
      readTokenAnswer(Error("CorvenzaTransportError", 7, std::nullopt, "offline"), kApiKey);
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error().code(), kInvalidResponse);
  EXPECT_EQ(failed.error().userInfoValue(error_info::kUnderlyingError), "offline");
  EXPECT_EQ(failed.error().userInfoValue(error_info::kUnderlyingCode), "7");
}

// A key short enough to occur in the redaction mark is replaced once per
// occurrence.
TEST(TokenRequestFuzzTest, ShortKeyIsRedactedOncePerOccurrence) {
  const auto answer =
      readTokenAnswer(http::HttpResponse{403, {}, R"({"message":"bad data"})"}, "a");
  EXPECT_EQ(answer.error().userInfoValue(error_info::kServiceMessage),
            "b[redacted]d d[redacted]t[redacted]");
}

}  // namespace
}  // namespace corvenza::auth
