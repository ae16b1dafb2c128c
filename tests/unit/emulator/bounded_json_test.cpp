// JSON from clients is refused, not parsed, when it nests too deep to be
// copied and printed safely.

#include "base/bounded_json.h"

#include <gtest/gtest.h>

#include <string>

namespace corvenza::emulator {
namespace {

std::string nested(std::size_t depth, char open = '[', char close = ']') {
  return std::string(depth, open) + std::string(depth, close);
}

TEST(BoundedJsonTest, CountsOnlyBracketsOutsideStrings) {
  EXPECT_TRUE(jsonDepthWithin(nested(64)));
  EXPECT_FALSE(jsonDepthWithin(nested(65)));
  EXPECT_TRUE(jsonDepthWithin("", 0));
  EXPECT_FALSE(jsonDepthWithin("{}", 0));
  // Siblings do not add up; only depth counts.
  EXPECT_TRUE(jsonDepthWithin("[[1],[2],[[3]]]", 3));
  EXPECT_FALSE(jsonDepthWithin("[[1],[2],[[[4]]]]", 3));
  // Brackets inside strings, also after an escaped quote, are text.
  EXPECT_TRUE(jsonDepthWithin(R"({"a":"[[[[{{{{"})", 1));
  EXPECT_TRUE(jsonDepthWithin(R"({"a":"\"[[[[\\"})", 1));
  EXPECT_FALSE(jsonDepthWithin(R"({"a":"\\",  "b":[[1]]})", 2));
  // Stray closers cannot buy room for openers.
  EXPECT_FALSE(jsonDepthWithin("]]]]" + nested(3), 2));
}

TEST(BoundedJsonTest, ParsesShallowDocumentsAndRefusesDeepOnesWithoutRecursing) {
  const auto shallow = parseBoundedJson(R"({"variables":{"input":{"age":[1,{"x":null}]}}})");
  ASSERT_TRUE(shallow.is_object());
  EXPECT_EQ(shallow["variables"]["input"]["age"][1]["x"], nullptr);

  EXPECT_TRUE(parseBoundedJson(nested(64)).is_array());
  EXPECT_TRUE(parseBoundedJson(nested(65)).is_discarded());
  // Deep enough to overflow a thread's stack if it were ever built as a value.
  std::string deepObject;
  for (int i = 0; i < 1'000'000; ++i) deepObject += "{\"a\":";
  EXPECT_TRUE(parseBoundedJson(deepObject + "1" + std::string(1'000'000, '}')).is_discarded());
  EXPECT_TRUE(parseBoundedJson("{\"a\": ").is_discarded());
  EXPECT_TRUE(parseBoundedJson("not json").is_discarded());
}

}  // namespace
}  // namespace corvenza::emulator
