// The documents are the wire protocol: compared byte for byte with golden
// files written by hand from the schema.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "graphql/operations.h"

namespace corvenza::graphql {
namespace {

std::string golden(const std::string& name) {
  std::ifstream in(std::string(CORVENZA_TEST_DATA_DIR) + "/graphql/" + name + ".graphql",
                   std::ios::binary);
  EXPECT_TRUE(in) << name;
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

TEST(Documents, FragmentsMatchGoldenFilesAndLengths) {
  struct Case {
    FragmentName name;
    const char* file;
    std::size_t length;
  };
  for (const Case& c :
       {Case{FragmentName::bodysizeEstimation, "fragment_bodysize_estimation", 1624},
        Case{FragmentName::bodysizeEstimationIndexOutput,
             "fragment_bodysize_estimation_index_output", 256},
        Case{FragmentName::bodysizeEstimationMinimumOutput,
             "fragment_bodysize_estimation_minimum_output", 182},
        Case{FragmentName::s3Object, "fragment_s3_object", 70}}) {
    const std::string& text = fragmentDocument(c.name).text;
    EXPECT_EQ(text, golden(c.file)) << c.file;
    EXPECT_EQ(text.size(), c.length) << c.file;
  }
}

template <typename Op>
void expectOperation(const char* file, std::size_t operationLength, std::size_t requestLength,
                     std::initializer_list<const char*> fragmentFiles) {
  SCOPED_TRACE(file);
  EXPECT_EQ(Op::operationString(), golden(file));
  EXPECT_EQ(Op::operationString().size(), operationLength);
  std::string expected = golden(file);
  for (const char* f : fragmentFiles) expected += golden(f);
  EXPECT_EQ(Op::requestString(), expected);
  EXPECT_EQ(Op::requestString().size(), requestLength);
  EXPECT_FALSE(Op::operationIdentifier().has_value());
}

TEST(Documents, OperationsMatchGoldenFilesWithFragmentsAppended) {
  expectOperation<GetBodysizeEstimationQuery>(
      "get_bodysize_estimation", 121, 1815, {"fragment_bodysize_estimation", "fragment_s3_object"});
  expectOperation<ListBodysizeEstimationsQuery>(
      "list_bodysize_estimations", 301, 627,
      {"fragment_bodysize_estimation_index_output", "fragment_s3_object"});
  expectOperation<CreateBodysizeEstimationMutation>(
      "create_bodysize_estimation", 179, 361, {"fragment_bodysize_estimation_minimum_output"});
  expectOperation<UpdateBodysizeEstimationMutation>(
      "update_bodysize_estimation", 179, 361, {"fragment_bodysize_estimation_minimum_output"});
  expectOperation<AttachFrontImageMutation>("attach_front_image", 166, 348,
                                            {"fragment_bodysize_estimation_minimum_output"});
  expectOperation<AttachSideImageMutation>("attach_side_image", 164, 346,
                                           {"fragment_bodysize_estimation_minimum_output"});
  expectOperation<DeleteBodysizeEstimationMutation>("delete_bodysize_estimation", 147, 147, {});
  expectOperation<OnCreateEstimationRequestSubscription>("on_create_estimation_request", 141, 141,
                                                         {});
  expectOperation<OnUpdateEstimationRequestSubscription>("on_update_estimation_request", 141, 141,
                                                         {});
  expectOperation<OnDeleteEstimationRequestSubscription>("on_delete_estimation_request", 141, 141,
                                                         {});
}

TEST(Documents, FragmentFollowsClosingBraceDirectly) {
  const std::string& request = GetBodysizeEstimationQuery::requestString();
  EXPECT_EQ(request.substr(120, 10), "}fragment ");
  EXPECT_EQ(request.substr(1744, 10), "}fragment ");
  EXPECT_EQ(request.back(), '}');
  EXPECT_EQ(request.find('\t'), std::string::npos);
  EXPECT_EQ(request.find(" \n"), std::string::npos);
}

TEST(Documents, PrinterNestsBlocksAndSpreads) {
  Document d{"query Q",
             {objectField("a", true, {field("b", FieldKind::id), spread("F")}, "(x: $x)")}};
  EXPECT_EQ(printDocument(d), "query Q {\n  a(x: $x) {\n    b\n    ...F\n  }\n}");
}

TEST(Variables, EveryKeyIsPresentEvenWithoutValue) {
  ListBodysizeEstimationsQuery empty;
  auto vars = empty.variables();
  ASSERT_EQ(vars.size(), 3u);
  for (const char* key : {"filter", "limit", "nextToken"}) {
    ASSERT_TRUE(vars.count(key)) << key;
    EXPECT_FALSE(vars.at(key).has_value()) << key;
  }
  EXPECT_EQ(variablesJson(vars), nlohmann::json::object());

  ListBodysizeEstimationsQuery page(std::nullopt, 20, std::string("tok"));
  EXPECT_EQ(variablesJson(page.variables()), (nlohmann::json{{"limit", 20}, {"nextToken", "tok"}}));
}

TEST(Variables, OperationsPlaceTheirValuesUnderTheirKeys) {
  EXPECT_EQ(variablesJson(GetBodysizeEstimationQuery("r1").variables()),
            (nlohmann::json{{"id", "r1"}}));
  EXPECT_EQ(variablesJson(OnDeleteEstimationRequestSubscription("u1").variables()),
            (nlohmann::json{{"userId", "u1"}}));

  DeleteBodysizeEstimationMutation del(DeleteBodysizeEstimationInput({}, "r2"));
  EXPECT_EQ(variablesJson(del.variables()), (nlohmann::json{{"input", {{"id", "r2"}}}}));

  AttachFrontImageMutation attach(
      "r3", S3ObjectInput("b", "u/r3/front.jpg", "file:///tmp/f.jpg", "image/jpeg", "eu-west-1"));
  auto vars = attach.variables();
  ASSERT_EQ(vars.size(), 2u);
  EXPECT_EQ(*vars.at("id"), "r3");
  EXPECT_EQ(vars.at("image")->at("key"), "u/r3/front.jpg");
  EXPECT_EQ(vars.at("image")->size(), 5u);
}

}  // namespace
}  // namespace corvenza::graphql
