// The GraphQL lexer, parser and service against hostile text: random bytes,
// every truncation and random mutations of the client's real documents and
// variables. Each input ends in a document or one located syntax error, and
// the service always answers a JSON object. Fixed seeds, bounded counts.

#include <gtest/gtest.h>

#include <random>

#include "gql/lexer.h"
#include "gql/parser.h"
#include "gql/schema.h"
#include "gql/validator.h"
#include "service_fixture.h"

namespace corvenza::emulator::testing {
namespace {

using gql::Document;
using gql::GraphQLError;

std::string mutate(std::string text, std::mt19937& random) {
  static const std::vector<std::string> pieces = {"{",
                                                  "}",
                                                  "(",
                                                  ")",
                                                  "[",
                                                  "]",
                                                  "$",
                                                  "!",
                                                  "...",
                                                  "@skip(if: true)",
                                                  "\"",
                                                  "\"\"\"",
                                                  "\\u",
                                                  "#",
                                                  "\n",
                                                  ":",
                                                  "=",
                                                  "on ",
                                                  "fragment F on Query { a }",
                                                  "1e999",
                                                  "-0",
                                                  "__typename",
                                                  "\xff",
                                                  std::string(1, '\0'),
                                                  "query",
                                                  "mutation",
                                                  "subscription"};
  const int edits = 1 + static_cast<int>(random() % 5);
  for (int e = 0; e < edits; ++e) {
    const auto at = text.empty() ? 0 : static_cast<std::size_t>(random() % text.size());
    switch (random() % 5) {
      case 0:
        if (!text.empty()) text[at] = static_cast<char>(random() % 256);
        break;
      case 1:
        text.insert(at, pieces[random() % pieces.size()]);
        break;
      case 2:
        text.erase(at, 1 + random() % 16);
        break;
      case 3:
        text.insert(at, text.substr(at, random() % 64));
        break;
      default:
        std::swap(text[at], text[random() % std::max<std::size_t>(1, text.size())]);
        break;
    }
  }
  return text;
}

// A parse ends in a document or in one syntax error that points into the text.
void expectCleanParse(const std::string& source) {
  const auto result = gql::parseDocument(source);
  if (const auto* document = std::get_if<Document>(&result)) {
    gql::validateDocument(gql::Schema::estimation(), *document);
    return;
  }
  const auto& error = std::get<GraphQLError>(result);
  EXPECT_EQ(error.errorType, gql::kParseError) << ::testing::PrintToString(source);
  ASSERT_FALSE(error.locations.empty());
  EXPECT_GE(error.locations.front().line, 1);
  EXPECT_GE(error.locations.front().column, 1);
}

TEST(GraphQLFuzz, LexerEndsOnAnyBytesWithValidLocations) {
  std::mt19937 random(99);
  for (int round = 0; round < 2000; ++round) {
    std::string input(random() % 200, '\0');
    for (auto& c : input) c = static_cast<char>(random() % 256);
    if (round % 3 == 0) input = mutate(clientRequestString("list_bodysize_estimations"), random);
    gql::Lexer lexer(input);
    std::size_t tokens = 0;
    for (;; ++tokens) {
      const auto token = lexer.next();
      ASSERT_GE(token.location.line, 1);
      ASSERT_GE(token.location.column, 1);
      if (token.kind == gql::Token::Kind::End || token.kind == gql::Token::Kind::Error) break;
      // Every token but End consumes at least one byte.
      ASSERT_LE(tokens, input.size()) << ::testing::PrintToString(input);
    }
  }
}

TEST(GraphQLFuzz, ParserSurvivesEveryTruncationAndMutationOfClientDocuments) {
  std::mt19937 random(20240601);
  for (const auto& name : clientOperations()) {
    const auto text = clientRequestString(name);
    for (std::size_t cut = 0; cut <= text.size(); ++cut) expectCleanParse(text.substr(0, cut));
    for (int round = 0; round < 300; ++round) expectCleanParse(mutate(text, random));
  }
}

TEST_F(ServiceTest, ServiceAnswersMutatedDocumentsAndVariablesWithJson) {
  std::mt19937 random(31337);
  const auto id = create();
  const std::vector<std::pair<std::string, nlohmann::json>> requests = {
      {"create_bodysize_estimation",
       {{"input", {{"age", 30}, {"height", 170.5}, {"weight", 62.25}, {"gender", "female"}}}}},
      {"update_bodysize_estimation", {{"input", {{"id", id}, {"age", 31}, {"gender", nullptr}}}}},
      {"list_bodysize_estimations",
       {{"limit", 5}, {"filter", {{"height", {{"between", {100, 200}}}}}}}},
      {"attach_front_image", {{"id", id}, {"image", image(photoKey(kAlice, id, "f.jpg"))}}},
      {"get_bodysize_estimation", {{"id", id}}},
      {"delete_bodysize_estimation", {{"input", {{"id", "no-such-id"}}}}}};
  const std::vector<nlohmann::json> oddValues = {nullptr,
                                                 -1,
                                                 1e308,
                                                 "",
                                                 "\u00e9",
                                                 nlohmann::json::array(),
                                                 nlohmann::json::object(),
                                                 true,
                                                 18446744073709551615ull,
                                                 nlohmann::json::array({nullptr, {{"a", 1}}})};
  for (int round = 0; round < 400; ++round) {
    const auto& [operation, variables] =
        requests[static_cast<std::size_t>(round) % requests.size()];
    auto query = clientRequestString(operation);
    auto vars = variables;
    if (round % 2) {
      query = mutate(query, random);
    } else {
      // Replace one value somewhere in the variables with an odd one.
      const auto flat = vars.flatten();
      auto leaf = flat.begin();
      std::advance(leaf, static_cast<long>(random() % flat.size()));
      vars[nlohmann::json::json_pointer(leaf.key())] = oddValues[random() % oddValues.size()];
    }
    const nlohmann::json body = {{"query", query}, {"variables", vars}};
    const auto text = body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    const auto answer = nlohmann::json::parse(service_->execute(text, kAlice), nullptr, false);
    ASSERT_TRUE(answer.is_object()) << text;
    EXPECT_TRUE(answer.contains("data") || answer.contains("errors")) << text;
  }
}

}  // namespace
}  // namespace corvenza::emulator::testing
