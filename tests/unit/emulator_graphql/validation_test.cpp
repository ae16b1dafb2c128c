#include "service_fixture.h"

namespace corvenza::emulator::testing {
namespace {

// A response that was rejected before execution: data null, one or more
// errors of @p type, the first message containing @p needle.
void expectRejected(const nlohmann::json& response, const std::string& type,
                    const std::string& needle) {
  SCOPED_TRACE(response.dump());
  ASSERT_TRUE(response.contains("data"));
  EXPECT_TRUE(response["data"].is_null());
  ASSERT_FALSE(response["errors"].empty());
  EXPECT_EQ(response["errors"][0]["errorType"], type);
  EXPECT_NE(response["errors"][0]["message"].get<std::string>().find(needle), std::string::npos);
}

TEST_F(ServiceTest, RejectsDocumentsThatDoNotFitTheSchema) {
  const std::pair<const char*, const char*> cases[] = {
      {"query { getBodysizeEstimation(id: \"1\") { id shoeSize } }", "'shoeSize'"},
      {"query { getBodysizeEstimation { id } }", "Missing field argument id"},
      {"query { getBodysizeEstimation(id: \"1\", extra: 1) { id } }", "Unknown argument extra"},
      {"query { getBodysizeEstimation(id: \"1\") }", "Sub selection required"},
      {"query { getBodysizeEstimation(id: \"1\") { id { x } } }", "Sub selection not allowed"},
      {"query { getBodysizeEstimation(id: \"1\") { ...Missing } }", "Undefined fragment Missing"},
      {"query ($x: NoSuchType) { getBodysizeEstimation(id: $x) { id } }", "Unknown type"},
      {"query ($id: String!) { getBodysizeEstimation(id: $id) { id } }", "VariableTypeMismatch"},
      {"query ($id: ID) { getBodysizeEstimation(id: $id) { id } }", "VariableTypeMismatch"},
      {"query { getBodysizeEstimation(id: $nowhere) { id } }", "Undefined variable"},
      {"query ($id: ID!, $unused: Int) { getBodysizeEstimation(id: $id) { id } }",
       "Unused variable unused"},
      {"query { getBodysizeEstimation(id: \"1\") { id } } fragment F on S3Object { key }",
       "Unused fragment F"},
      {"query { getBodysizeEstimation(id: \"1\") { ...A } } fragment A on BodysizeEstimation "
       "{ ...B } fragment B on BodysizeEstimation { ...A }",
       "cycle"},
      {"query { getBodysizeEstimation(id: \"1\") { ...S } } fragment S on S3Object { key }",
       "can never be of type"},
      {"mutation { createBodysizeEstimation(input: {age: 1, height: 1.0}) { id } }",
       "'weight' of CreateBodysizeEstimationInput is required"},
      {"mutation { createBodysizeEstimation(input: {age: 1, height: 1, weight: 1, shoe: 2}) "
       "{ id } }",
       "'shoe' is not defined"},
      {"mutation { createBodysizeEstimation(input: {age: \"1\", height: 1, weight: 1}) { id } }",
       "not an Int"},
      {"mutation { createBodysizeEstimation(input: {age: 1, height: 1, weight: 1, "
       "gender: other}) { id } }",
       "not a valid Gender"},
      {"query { getBodysizeEstimation(id: \"1\") @deprecated { id } }", "Unknown directive"},
      {"query { getBodysizeEstimation(id: \"1\") @skip { id } }", "Missing field argument if"},
      {"subscription ($u: ID!) { onCreateBodysizeEstimation(userId: $u) { id } "
       "onDeleteBodysizeEstimation(userId: $u) { id } }",
       "exactly one root field"},
      {"query A { __typename } query A { __typename }", "only one operation named 'A'"},
  };
  for (const auto& [query, needle] : cases) {
    SCOPED_TRACE(query);
    expectRejected(run(query, {{"id", "1"}, {"u", "x"}}), "ValidationError", needle);
  }
  const auto located = run("query {\n  getBodysizeEstimation(id: \"1\") {\n    nope\n  }\n}", {});
  EXPECT_EQ(located["errors"][0]["locations"][0]["line"], 3);
  EXPECT_EQ(located["errors"][0]["locations"][0]["column"], 5);
  expectRejected(run("query { ", {}), "InvalidSyntax", "Syntax Error");
}

TEST_F(ServiceTest, CoercesVariablesAndRejectsBadOnes) {
  const auto create = clientRequestString("create_bodysize_estimation");
  // Ints are Floats too, enums come from strings.
  const auto ok =
      run(create, {{"input", {{"age", 40}, {"height", 180}, {"weight", 80}, {"gender", "male"}}}});
  ASSERT_FALSE(ok.contains("errors")) << ok.dump();
  EXPECT_EQ(ok["data"]["createBodysizeEstimation"]["height"], 180.0);
  // An ID given as a number is read as its decimal text.
  const auto numericId = runClient("get_bodysize_estimation", {{"id", 12345}});
  EXPECT_FALSE(numericId.contains("errors")) << numericId.dump();

  const std::pair<nlohmann::json, const char*> bad[] = {
      {nlohmann::json::object(), "'input'"},
      {{{"input", {{"age", 1}, {"height", 1}}}}, "'weight'"},
      {{{"input", {{"age", 1.5}, {"height", 1}, {"weight", 1}}}}, "not an Int"},
      {{{"input", {{"age", 1}, {"height", "tall"}, {"weight", 1}}}}, "not a Float"},
      {{{"input", {{"age", 1}, {"height", 1}, {"weight", 1}, {"gender", "FEMALE"}}}},
       "not a valid Gender"},
      {{{"input", {{"age", 1}, {"height", 1}, {"weight", 1}, {"id", "x"}}}}, "'id' is not defined"},
      {{{"input", {{"age", 1}, {"height", nullptr}, {"weight", 1}}}}, "'height'"},
      {{{"input", {{"age", 3000000000LL}, {"height", 1}, {"weight", 1}}}}, "range"},
  };
  for (const auto& [variables, needle] : bad) {
    SCOPED_TRACE(variables.dump());
    expectRejected(run(create, variables), "ValidationError", needle);
  }
  expectRejected(runClient("attach_front_image", {{"id", "x"}, {"image", {{"bucket", "b"}}}}),
                 "ValidationError", "'key'");
}

TEST_F(ServiceTest, ShapesResultsBySelection) {
  const auto id = create();
  const auto query = R"(query Q($id: ID!, $withAge: Boolean!) {
      __typename
      first: getBodysizeEstimation(id: $id) { ident: id  age @include(if: $withAge) }
      first: getBodysizeEstimation(id: $id) { ... on BodysizeEstimation { status } }
      missing: getBodysizeEstimation(id: "nope") { id }
      getBodysizeEstimation(id: $id) @skip(if: true) { id }
    })";
  const auto response = run(query, {{"id", id}, {"withAge", false}});
  ASSERT_FALSE(response.contains("errors")) << response.dump();
  EXPECT_EQ(response["data"], (nlohmann::json{{"__typename", "Query"},
                                              {"first", {{"ident", id}, {"status", "requested"}}},
                                              {"missing", nullptr}}));
  const auto withAge = run(query, {{"id", id}, {"withAge", true}});
  EXPECT_EQ(withAge["data"]["first"]["age"], 30);
  // Keys come back in selection order, as clients decoding by position expect.
  const auto text = service_->execute(
      nlohmann::json{{"query", "{ getBodysizeEstimation(id: \"" + id + "\") { weight age id } }"}}
          .dump(),
      kAlice);
  EXPECT_LT(text.find("weight"), text.find("\"age\""));
  EXPECT_LT(text.find("\"age\""), text.find("\"id\""));
}

TEST_F(ServiceTest, AnswersMalformedRequestsWithAnError) {
  for (const auto* body : {"not json", "[]", "{\"query\": 5}",
                           "{\"query\": \"{ a }\", "
                           "\"variables\": [1]}"}) {
    SCOPED_TRACE(body);
    EXPECT_TRUE(gql::GraphQLService::badRequest(body).has_value());
    const auto response = nlohmann::json::parse(service_->execute(body, kAlice));
    EXPECT_TRUE(response["data"].is_null());
    EXPECT_EQ(response["errors"].size(), 1u);
  }
  EXPECT_FALSE(gql::GraphQLService::badRequest("{\"query\": \"{ a }\"}").has_value());
  const auto twoOperations = nlohmann::json{
      {"query", "query A { __typename } query B { __typename }"}, {"operationName", "B"}};
  const auto picked = nlohmann::json::parse(service_->execute(twoOperations.dump(), kAlice));
  EXPECT_EQ(picked["data"]["__typename"], "Query");
}

}  // namespace
}  // namespace corvenza::emulator::testing
