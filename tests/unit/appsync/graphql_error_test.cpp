#include "platform/appsync/graphql_error.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "core/result.h"
#include "platform/appsync/client_error.h"
#include "platform/appsync/response_mapping.h"

namespace corvenza::appsync {
namespace {

using nlohmann::json;

TEST(GraphQLErrorTest, CarriesMessageTypePathAndLocations) {
  const auto error = makeGraphQLError(json::parse(R"({
    "message": "Not Authorized to access items on type Query",
    "errorType": "Unauthorized",
    "path": ["getBodysizeEstimation", "items", 0],
    "locations": [{"line": 2, "column": 3, "sourceName": null}, {"line": 7, "column": 11}]
  })"));
  EXPECT_EQ(error.domain(), "GraphQLError");
  EXPECT_EQ(error.localizedDescription(), "Not Authorized to access items on type Query");
  ASSERT_TRUE(error.userInfo());
  EXPECT_EQ(error.userInfo()->at("errorType"), "Unauthorized");
  EXPECT_EQ(error.userInfo()->at("path"), "getBodysizeEstimation.items.0");
  EXPECT_EQ(error.userInfo()->at("locations"), "2:3,7:11");
}

TEST(GraphQLErrorTest, ToleratesOddShapes) {
  // No message, no extras: a fixed text and an empty map.
  auto bare = makeGraphQLError(json::object());
  EXPECT_EQ(bare.localizedDescription(), kGraphQLErrorNoMessage);
  EXPECT_TRUE(bare.userInfo()->empty());
  EXPECT_EQ(makeGraphQLError(json(42)).localizedDescription(), kGraphQLErrorNoMessage);
  EXPECT_EQ(makeGraphQLError(json(nullptr)).localizedDescription(), kGraphQLErrorNoMessage);

  // A single object (as on the real-time path) and a plain string.
  auto single = parseGraphQLErrors(json::parse(R"({"message": "boom"})"));
  ASSERT_EQ(single.size(), 1u);
  EXPECT_EQ(single[0].localizedDescription(), "boom");
  EXPECT_EQ(parseGraphQLErrors(json("text")).at(0).localizedDescription(), "text");
  EXPECT_TRUE(parseGraphQLErrors(json(nullptr)).empty());
  EXPECT_EQ(parseGraphQLErrors(json::parse(R"([{"message":"a"},{"message":"b"}])")).size(), 2u);
}

http::HttpResponse response(int status, std::string body, http::HttpHeaders headers = {}) {
  return http::HttpResponse{status, std::move(headers), std::move(body)};
}

TEST(ResponseMappingTest, ErrorsMemberPresentOnlyWhenSent) {
  const http::HttpRequest sent;
  auto withData = mapGraphQLResponse(response(200, R"({"data":{"a":1}})"), sent);
  ASSERT_TRUE(withData);
  EXPECT_EQ(withData->data, json::parse(R"({"a":1})"));
  EXPECT_FALSE(withData->errors);

  auto emptyErrors = mapGraphQLResponse(response(200, R"({"data":{"a":1},"errors":[]})"), sent);
  ASSERT_TRUE(emptyErrors && emptyErrors->errors);
  EXPECT_TRUE(emptyErrors->errors->empty());

  auto nullData = mapGraphQLResponse(
      response(200, R"({"data":null,"errors":[{"message":"gone","path":["x"]}]})"), sent);
  ASSERT_TRUE(nullData);
  EXPECT_FALSE(nullData->data);
  ASSERT_EQ(nullData->errors->size(), 1u);
  EXPECT_EQ(nullData->errors->at(0).localizedDescription(), "gone");
}

TEST(ResponseMappingTest, NonJsonBodyIsAClientErrorNamingTheStatus) {
  for (const char* body : {"<html>bad gateway</html>", "", "[1,2]"}) {
    auto mapped = mapGraphQLResponse(response(200, body), {});
    ASSERT_FALSE(mapped) << body;
    EXPECT_EQ(mapped.error().domain(), kGraphQLClientErrorDomain);
    EXPECT_EQ(mapped.error().code(), kGraphQLClientResponseNotJSON);
    EXPECT_NE(mapped.error().localizedDescription().find("not JSON"), std::string::npos);
    EXPECT_NE(mapped.error().localizedDescription().find("200"), std::string::npos);
  }
}

TEST(ResponseMappingTest, StatusErrorsTakeTheServiceMessage) {
  auto unauthorized = mapGraphQLResponse(
      response(
          401,
          R"({"errors":[{"errorType":"UnauthorizedException","message":"Valid authorization header not provided."}]})"),
      {});
  ASSERT_FALSE(unauthorized);
  EXPECT_EQ(unauthorized.error().domain(), kGraphQLClientErrorDomain);
  EXPECT_EQ(unauthorized.error().code(), 401);
  EXPECT_EQ(unauthorized.error().localizedDescription(),
            "Valid authorization header not provided.");
  EXPECT_EQ(unauthorized.error().userInfo()->at("errorType"), "UnauthorizedException");

  auto headerOnly = mapGraphQLResponse(
      response(403, "", {{"x-amzn-ErrorType", "InvalidSignatureException:http://internal/"}}), {});
  EXPECT_EQ(headerOnly.error().code(), 403);
  EXPECT_EQ(headerOnly.error().localizedDescription(), "InvalidSignatureException");

  auto plain = mapGraphQLResponse(response(500, R"({"message":"Internal failure"})"), {});
  EXPECT_EQ(plain.error().code(), 500);
  EXPECT_EQ(plain.error().localizedDescription(), "Internal failure");

  auto nothing = mapGraphQLResponse(response(502, "oops"), {});
  EXPECT_EQ(nothing.error().code(), 502);
  EXPECT_NE(nothing.error().localizedDescription().find("502"), std::string::npos);
}

TEST(ResponseMappingTest, EchoedSecretsNeverReachTheDescription) {
  http::HttpRequest sent;
  sent.headers = {{"X-Amz-Security-Token", "SESSIONTOKEN123"},
                  {"Authorization",
                   "AWS4-HMAC-SHA256 Credential=AK/x, SignedHeaders=host, Signature=abcdef0123"}};
  auto mapped = mapGraphQLResponse(
      response(
          403,
          R"({"message":"Signature abcdef0123 does not match for SESSIONTOKEN123\nPOST\n/graphql\nx-amz-security-token:SESSIONTOKEN123"})"),
      sent);
  const auto& text = mapped.error().localizedDescription();
  EXPECT_EQ(text.find("SESSIONTOKEN123"), std::string::npos) << text;
  EXPECT_EQ(text.find("abcdef0123"), std::string::npos) << text;
  EXPECT_NE(text.find("does not match"), std::string::npos) << text;
}

}  // namespace
}  // namespace corvenza::appsync
