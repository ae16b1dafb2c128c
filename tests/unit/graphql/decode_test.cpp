// Bad responses must end in a decoding error naming the path, never a crash.

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>

#include "graphql/operations.h"
#include "testkit/mutations.h"

namespace corvenza::graphql {
namespace {

using nlohmann::json;

json minimumObject() {
  return {{"__typename", "BodysizeEstimation"},
          {"id", "r1"},
          {"createdAt", 1},
          {"status", "requested"},
          {"weight", 60},
          {"height", 170},
          {"age", 30},
          {"gender", "male"},
          {"userId", "u1"},
          {"failOnAutomaticEstimationFailure", false}};
}

void expectError(const json& data, DecodingErrorCode code, const std::string& path) {
  auto result = UpdateBodysizeEstimationMutation::decode(data);
  ASSERT_FALSE(result) << data.dump();
  EXPECT_EQ(result.error().domain(), kDecodingErrorDomain);
  EXPECT_EQ(result.error().code(), static_cast<int>(code));
  EXPECT_EQ(result.error().userInfo()->at("path"), path);
  EXPECT_NE(result.error().localizedDescription().find(path), std::string::npos);
}

TEST(Decoding, RejectsMissingNonNullFieldsAndWrongTypes) {
  json o = minimumObject();
  o.erase("userId");
  expectError({{"updateBodysizeEstimation", o}}, DecodingErrorCode::missingField,
              "updateBodysizeEstimation.userId");

  o = minimumObject();
  o["status"] = nullptr;
  expectError({{"updateBodysizeEstimation", o}}, DecodingErrorCode::missingField,
              "updateBodysizeEstimation.status");

  o = minimumObject();
  o["age"] = 30.5;
  expectError({{"updateBodysizeEstimation", o}}, DecodingErrorCode::wrongType,
              "updateBodysizeEstimation.age");

  o = minimumObject();
  o["weight"] = "60";
  expectError({{"updateBodysizeEstimation", o}}, DecodingErrorCode::wrongType,
              "updateBodysizeEstimation.weight");

  o = minimumObject();
  o["failOnAutomaticEstimationFailure"] = 1;
  expectError({{"updateBodysizeEstimation", o}}, DecodingErrorCode::wrongType,
              "updateBodysizeEstimation.failOnAutomaticEstimationFailure");

  expectError({{"updateBodysizeEstimation", "r1"}}, DecodingErrorCode::notAnObject,
              "updateBodysizeEstimation");
  expectError(json::array(), DecodingErrorCode::notAnObject, "data");
}

TEST(Decoding, ChecksNestedImagesAndListElements) {
  json item = {{"__typename", "BodysizeEstimation"},
               {"id", "a"},
               {"createdAt", 5},
               {"status", "requested"},
               {"userId", "u"},
               {"frontImageThumb", nullptr},
               {"sideImageThumb",
                {{"__typename", "S3Object"}, {"bucket", "b"}, {"key", 7}, {"region", "r"}}}};
  json connection = {{"__typename", "BodysizeEstimationConnection"}, {"items", {item}}};
  auto result = ListBodysizeEstimationsQuery::decode({{"listBodysizeEstimations", connection}});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().userInfo()->at("path"),
            "listBodysizeEstimations.items.0.sideImageThumb.key");

  connection["items"] = json::array({json{{"k", 1}}});
  result = ListBodysizeEstimationsQuery::decode({{"listBodysizeEstimations", connection}});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().code(), static_cast<int>(DecodingErrorCode::missingField));

  connection["items"] = "nope";
  EXPECT_FALSE(ListBodysizeEstimationsQuery::decode({{"listBodysizeEstimations", connection}}));
}

TEST(Decoding, MissingNullableRootIsNullAndExtraFieldsAreIgnored) {
  auto empty = GetBodysizeEstimationQuery::decode(json::object());
  ASSERT_TRUE(empty);
  EXPECT_FALSE(empty->getBodysizeEstimation());

  json o = minimumObject();
  o["somethingNew"] = {{"deep", {1, 2}}};
  o.erase("gender");
  auto ok = UpdateBodysizeEstimationMutation::decode({{"updateBodysizeEstimation", o}});
  ASSERT_TRUE(ok);
  auto fragment = ok->updateBodysizeEstimation()->fragments().bodysizeEstimationMinimumOutput();
  EXPECT_FALSE(fragment.gender());
  EXPECT_EQ(fragment.age(), 30);
}

// Random and truncated documents: the decoders may fail but must not crash
// (run under the sanitizers to catch memory errors).
TEST(Decoding, SurvivesRandomAndTruncatedInput) {
  json full = {{"getBodysizeEstimation",
                {{"__typename", "BodysizeEstimation"},
                 {"id", "r1"},
                 {"userId", "u"},
                 {"createdAt", -5},
                 {"status", "failed"},
                 {"age", 3},
                 {"height", 1.5},
                 {"weight", 2},
                 {"frontImage",
                  {{"__typename", "S3Object"}, {"bucket", "b"}, {"key", "k"}, {"region", "r"}}},
                 {"errorCode", "X"}}}};
  const std::string text = full.dump();
  std::mt19937 rng(12345);
  int decoded = 0;
  auto feed = [&](const std::string& input) {
    json parsed = json::parse(input, nullptr, /*allow_exceptions=*/false);
    if (parsed.is_discarded()) return;
    if (GetBodysizeEstimationQuery::decode(parsed)) ++decoded;
    (void)ListBodysizeEstimationsQuery::decode(parsed);
    (void)OnCreateEstimationRequestSubscription::decode(parsed);
  };
  for (std::size_t cut = 0; cut <= text.size(); ++cut) feed(text.substr(0, cut));
  const std::string alphabet = "{}[]\":,0123456789.-eEtrufalsn abc\\";
  for (int round = 0; round < 3000; ++round) {
    std::string mutated = text;
    int edits = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < edits; ++i) {
      std::size_t at = rng() % mutated.size();
      mutated[at] = alphabet[rng() % alphabet.size()];
    }
    feed(mutated);
    std::string noise(rng() % 64, ' ');
    for (auto& c : noise) c = alphabet[rng() % alphabet.size()];
    feed(noise);
  }
  EXPECT_GE(decoded, 1);  // the untruncated document itself decodes
}

json validValue(const Selection& s, test::Mutator& m);

// A valid response object for @p selections: nullable fields sometimes null
// or left out, values at the edges of their types.
json validObject(const std::vector<Selection>& selections, test::Mutator& m) {
  json out = json::object();
  for (const auto& s : selections) {
    if (s.kind == FieldKind::spread) {
      out.update(validObject(fragmentDocument(s.name)->document.selections, m));
    } else if (s.nullable && m.oneIn(4)) {
      if (m.oneIn(2)) out[s.name] = nullptr;
    } else {
      out[s.name] = validValue(s, m);
    }
  }
  return out;
}

json validValue(const Selection& s, test::Mutator& m) {
  switch (s.kind) {
    case FieldKind::object: {
      if (!s.list) return validObject(s.selections, m);
      json list = json::array();
      for (std::size_t n = m.below(4); n > 0; --n) {
        list.push_back(m.oneIn(4) ? json() : validObject(s.selections, m));
      }
      return list;
    }
    case FieldKind::integer:
      return m.pick(std::vector<json>{0, -1, 1700000000, std::numeric_limits<std::int64_t>::min(),
                                      std::numeric_limits<std::int64_t>::max()});
    case FieldKind::floating:
      return m.pick(std::vector<json>{0, 170, 1.5, -1e300, 1e308, 5e-324});
    case FieldKind::boolean:
      return m.oneIn(2);
    default:
      return m.randomUtf8(8);
  }
}

// "/a/0/b" as a decoding path: "a.0.b"; the whole document is "data".
std::string dottedPath(const json::json_pointer& pointer) {
  const std::string text = pointer.to_string();
  if (text.empty()) return "data";
  std::string dotted = text.substr(1);
  std::replace(dotted.begin(), dotted.end(), '/', '.');
  return dotted;
}

// Every operation, on valid responses and on ones edited in one place: a
// valid one decodes, and an edited one decodes or fails where it was edited.
TEST(Decoding, EveryOperationFailsOnlyWhereTheResponseWasEdited) {
  test::Mutator mutator(2024);
  int failures = 0;
  for (int op = 0; op <= static_cast<int>(OperationName::onDeleteEstimationRequest); ++op) {
    const auto name = static_cast<OperationName>(op);
    const auto& selections = operationDocument(name).document.selections;
    for (int round = 0; round < 300; ++round) {
      // Through text, as from the wire: large positive integers come back unsigned.
      const json valid = json::parse(validObject(selections, mutator).dump());
      const auto decoded = decodeData(valid, name);
      ASSERT_TRUE(decoded) << valid.dump() << " " << decoded.error().localizedDescription();

      const auto edit = mutator.mutateJson(valid);
      const json edited = json::parse(edit.text, nullptr, /*allow_exceptions=*/false);
      if (edited.is_discarded()) continue;
      const auto result = decodeData(edited, name);
      if (result) continue;
      ++failures;
      const std::string at = dottedPath(edit.at);
      const std::string path = result.error().userInfo()->at("path");
      EXPECT_TRUE(at == "data" || path == at || path.starts_with(at + "."))
          << "edited " << at << ", failed at " << path << ": " << edit.text;
      EXPECT_NE(result.error().localizedDescription().find(path), std::string::npos);
    }
  }
  EXPECT_GT(failures, 500);
}

}  // namespace
}  // namespace corvenza::graphql
