#include "gql/parser.h"

#include <gtest/gtest.h>

#include <random>

#include "client_documents.h"
#include "gql/schema.h"
#include "gql/validator.h"

namespace corvenza::emulator::gql {
namespace {

using testing::clientOperations;
using testing::clientRequestString;

const Document& parsed(const std::variant<Document, GraphQLError>& result) {
  if (const auto* error = std::get_if<GraphQLError>(&result)) {
    ADD_FAILURE() << error->message << " at " << error->locations.front().line << ":"
                  << error->locations.front().column;
    static const Document empty;
    return empty;
  }
  return std::get<Document>(result);
}

TEST(GraphQLParser, ParsesAndValidatesEveryClientDocument) {
  for (const auto& name : clientOperations()) {
    SCOPED_TRACE(name);
    const auto text = clientRequestString(name);
    ASSERT_GT(text.size(), 100u) << "golden document missing";
    const auto result = parseDocument(text);
    const auto& doc = parsed(result);
    ASSERT_EQ(doc.operations.size(), 1u);
    EXPECT_TRUE(validateDocument(Schema::estimation(), doc).empty());
  }
  const auto result = parseDocument(clientRequestString("get_bodysize_estimation"));
  const auto& get = parsed(result);
  EXPECT_EQ(get.operations[0].name, "GetBodysizeEstimation");
  EXPECT_EQ(get.operations[0].variables[0].type.toString(), "ID!");
  ASSERT_EQ(get.fragments.size(), 2u);
  EXPECT_EQ(get.fragments[0].name, "BodysizeEstimation");
  EXPECT_EQ(get.fragments[1].typeCondition, "S3Object");
  const auto listResult = parseDocument(clientRequestString("list_bodysize_estimations"));
  const auto& list = parsed(listResult);
  EXPECT_EQ(list.operations[0].variables[0].type.toString(), "TableBodysizeEstimationFilterInput");
  EXPECT_EQ(list.operations[0].variables[1].type.toString(), "Int");
}

TEST(GraphQLParser, ReadsEveryKindOfValueAndSelection) {
  const auto result = parseDocument(R"(# leading comment
    query Q($a: [Int!]! = [1, 2], $b: Input) @include(if: true) {
      alias: field(i: -12, f: 1.5e3, s: "tab\there \u00e9\uD83D\uDE00", b: false, n: null,
                   e: male, l: [1 [2]], o: {x: $a, y: {z: "q"}}, v: $b) @skip(if: $c) {
        ... on T { x }
        ...Frag @include(if: false)
        ... { y }
      }
    }
    fragment Frag on T { z }
    { anonymous }
    s = """
       block
         indented
    """)");
  // A stray trailing "s = ..." is not a definition: the parse must fail there.
  ASSERT_TRUE(std::holds_alternative<GraphQLError>(result));
  EXPECT_EQ(std::get<GraphQLError>(result).locations.front().line, 12);

  const auto ok = parseDocument(R"(query Q($a: [Int!]! = [1, 2]) {
      alias: field(i: -12, f: 1.5e3, s: "tab\there \u00e9\uD83D\uDE00", b: false, n: null,
                   e: male, l: [1 [2]], o: {x: $a, y: {z: """
         block
           indented
      """}}) @skip(if: $c) {
        ... on T { x }
        ...Frag @include(if: false)
        ... { y }
      }
    }
    fragment Frag on T { z })");
  const auto& doc = parsed(ok);
  ASSERT_EQ(doc.operations.size(), 1u);
  const auto& var = doc.operations[0].variables[0];
  EXPECT_EQ(var.type.toString(), "[Int!]!");
  EXPECT_TRUE(var.hasDefault);
  EXPECT_EQ(var.defaultValue.items.size(), 2u);
  const auto& field = doc.operations[0].selections[0];
  EXPECT_EQ(field.alias, "alias");
  EXPECT_EQ(field.name, "field");
  EXPECT_EQ(field.responseKey(), "alias");
  ASSERT_EQ(field.arguments.size(), 8u);
  EXPECT_EQ(field.arguments[0].value.kind, Value::Kind::Int);
  EXPECT_EQ(field.arguments[0].value.text, "-12");
  EXPECT_EQ(field.arguments[1].value.kind, Value::Kind::Float);
  EXPECT_EQ(field.arguments[2].value.text, "tab\there \xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(field.arguments[3].value.kind, Value::Kind::Boolean);
  EXPECT_EQ(field.arguments[4].value.kind, Value::Kind::Null);
  EXPECT_EQ(field.arguments[5].value.kind, Value::Kind::Enum);
  EXPECT_EQ(field.arguments[6].value.items[1].items[0].text, "2");
  const auto& object = field.arguments[7].value;
  EXPECT_EQ(object.fields[0].second.kind, Value::Kind::Variable);
  EXPECT_EQ(object.fields[1].second.fields[0].second.text, "block\n  indented");
  EXPECT_EQ(field.directives[0].name, "skip");
  ASSERT_EQ(field.selections.size(), 3u);
  EXPECT_EQ(field.selections[0].kind, Selection::Kind::InlineFragment);
  EXPECT_EQ(field.selections[0].typeCondition, "T");
  EXPECT_EQ(field.selections[1].kind, Selection::Kind::FragmentSpread);
  EXPECT_EQ(field.selections[2].typeCondition, "");
  EXPECT_EQ(field.location.line, 2);
  EXPECT_EQ(field.location.column, 7);
}

TEST(GraphQLParser, ReportsSyntaxErrorsWithTheirLocation) {
  struct Case {
    const char* source;
    int line;
    int column;
  };
  const Case cases[] = {
      {"", 1, 1},
      {"query {", 1, 8},
      {"query Q {\n  a(x: )\n}", 2, 8},
      {"{ a(s: \"unterminated) }", 1, 8},
      {"{ a(s: \"bad \\q escape\") }", 1, 8},
      {"{ a(n: 01) }", 1, 8},
      {"{ a(n: 1.) }", 1, 8},
      {"{ a }\n  %", 2, 3},
      {"fragment on on T { a }", 1, 10},
      {"query Q($v Int) { a }", 1, 12},
      {"{ a(x: $v) }", 0, 0},  // variables are fine in arguments
      {"query Q($v: Int = $w) { a }", 1, 19},
      {"type Query { a: Int }", 1, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    const auto result = parseDocument(c.source);
    if (c.line == 0) {
      EXPECT_TRUE(std::holds_alternative<Document>(result));
      continue;
    }
    ASSERT_TRUE(std::holds_alternative<GraphQLError>(result));
    const auto& error = std::get<GraphQLError>(result);
    EXPECT_EQ(error.errorType, kParseError);
    EXPECT_EQ(error.locations.front().line, c.line);
    EXPECT_EQ(error.locations.front().column, c.column);
  }
}

TEST(GraphQLParser, RejectsNestingBeyondTheLimitWithoutExhaustingTheStack) {
  std::string deepList = "{ a(x: " + std::string(100000, '[') + " }";
  std::string deepSelection;
  for (int i = 0; i < 5000; ++i) deepSelection += "{ a ";
  for (const auto& source : {deepList, deepSelection}) {
    const auto result = parseDocument(source);
    ASSERT_TRUE(std::holds_alternative<GraphQLError>(result));
  }
}

// Random bytes and every truncation of real documents must produce a result,
// never a crash or a hang (run under the sanitizers to make this bite).
TEST(GraphQLParser, SurvivesRandomAndTruncatedInput) {
  std::mt19937 random(20261208);
  std::uniform_int_distribution<int> byte(0, 255);
  const std::string alphabet = "{}()[]:$!@.\"\\ \n,#=|&query fragment on abc 012 -e.E\"\"\"";
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  for (int round = 0; round < 3000; ++round) {
    std::string input(static_cast<std::size_t>(round % 120), '\0');
    for (auto& c : input) {
      c = round % 2 ? static_cast<char>(byte(random)) : alphabet[pick(random)];
    }
    const auto result = parseDocument(input);
    if (const auto* doc = std::get_if<Document>(&result)) {
      validateDocument(Schema::estimation(), *doc);
    }
  }
  for (const auto& name : clientOperations()) {
    const auto text = clientRequestString(name);
    for (std::size_t cut = 0; cut < text.size(); cut += 3) {
      const auto result = parseDocument(std::string_view(text).substr(0, cut));
      // A prefix may parse (the operation without its fragments) but never validates.
      const auto* doc = std::get_if<Document>(&result);
      EXPECT_TRUE(!doc || !validateDocument(Schema::estimation(), *doc).empty())
          << name << " cut at " << cut;
    }
  }
}

}  // namespace
}  // namespace corvenza::emulator::gql
