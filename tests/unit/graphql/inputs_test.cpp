#include "graphql/inputs.h"

#include <gtest/gtest.h>

#include "graphql/filter_inputs.h"

namespace corvenza::graphql {
namespace {

TEST(InputObjects, CreateWithoutOptionalsHoldsFiveKeysTwoWithoutValue) {
  CreateBodysizeEstimationInput input(30, {}, {}, 170.5, 60.0);
  const auto& map = input.graphQLMap();
  ASSERT_EQ(map.size(), 5u);
  EXPECT_FALSE(map.at("gender").isGiven());
  EXPECT_FALSE(map.at("failOnAutomaticEstimationFailure").isGiven());
  EXPECT_EQ(input.toJson(), (nlohmann::json{{"age", 30}, {"height", 170.5}, {"weight", 60.0}}));
  EXPECT_TRUE(input.toJson()["age"].is_number_integer());

  input.setGender(Gender::female());
  input.setFailOnAutomaticEstimationFailure(true);
  EXPECT_EQ(input.gender(), InputValue<Gender>(Gender::female()));
  EXPECT_EQ(input.toJson()["gender"], "female");
  EXPECT_EQ(input.toJson()["failOnAutomaticEstimationFailure"], true);
}

TEST(InputObjects, UpdateKeepsNotGivenNullAndValueApart) {
  UpdateBodysizeEstimationInput input({}, {}, Gender::unknown("other"), InputValue<double>::null(),
                                      "r1", 61.5);
  EXPECT_FALSE(input.age().isGiven());
  EXPECT_TRUE(input.height().isNull());
  EXPECT_TRUE(input.height().isGiven());
  EXPECT_FALSE(input.height().hasValue());
  EXPECT_EQ(input.weight().value(), 61.5);
  EXPECT_EQ(input.id(), "r1");

  nlohmann::json json = input.toJson();
  EXPECT_FALSE(json.contains("age"));
  ASSERT_TRUE(json.contains("height"));
  EXPECT_TRUE(json["height"].is_null());
  EXPECT_EQ(json["gender"], "other");
  EXPECT_EQ(json.size(), 4u);

  input.setHeight({});
  EXPECT_FALSE(input.toJson().contains("height"));
  EXPECT_EQ(input.graphQLMap().size(), 6u);
}

TEST(InputObjects, DeleteLeavesCreatedAtOutUnlessGiven) {
  DeleteBodysizeEstimationInput input({}, "r1");
  EXPECT_EQ(input.graphQLMap().size(), 2u);
  EXPECT_EQ(input.toJson(), (nlohmann::json{{"id", "r1"}}));
  input.setCreatedAt(std::int64_t{86400});
  EXPECT_EQ(input.createdAt().value(), 86400);
}

TEST(S3ObjectInputs, AnswersLocationAndLocalFile) {
  S3ObjectInput image("bucket", "id/req/front.jpg", "file:///tmp/a%20b/front.jpg", "image/jpeg",
                      "eu-central-1");
  EXPECT_EQ(image.getBucketName(), "bucket");
  EXPECT_EQ(image.getKeyName(), "id/req/front.jpg");
  EXPECT_EQ(image.getRegion(), "eu-central-1");
  EXPECT_EQ(image.getMimeType(), "image/jpeg");
  EXPECT_EQ(image.getLocalSourceFileURL(), "file:///tmp/a%20b/front.jpg");
  EXPECT_EQ(image.localSourceFilePath(), std::filesystem::path("/tmp/a b/front.jpg"));

  for (const char* bad : {"", "file:///tmp/%zz", "file:///tmp/%2", "file://elsewhere/tmp/a.jpg",
                          "file:///tmp/%00a.jpg", "https://example.invalid/front.jpg"}) {
    image.setLocalUri(bad);
    EXPECT_FALSE(image.localSourceFilePath()) << bad;
  }
  image.setLocalUri("https://example.invalid/front.jpg");
  EXPECT_TRUE(image.getLocalSourceFileURL());
}

TEST(S3ObjectInputs, OneReadingOfLocalFilesForInputsAndUploads) {
  S3ObjectInput image("b", "k", "", "image/jpeg", "r");
  struct Case {
    const char* uri;
    const char* path;
  };
  for (auto [uri, path] :
       {Case{"/tmp/corvenza-0/2026-a front.jpg", "/tmp/corvenza-0/2026-a front.jpg"},
        Case{"file:///photos/a.jpg?x=1", "/photos/a.jpg"},
        Case{"file://localhost/photos/a%20b.jpg#top", "/photos/a b.jpg"},
        Case{"file:/photos/a.jpg", "/photos/a.jpg"}}) {
    SCOPED_TRACE(uri);
    image.setLocalUri(uri);
    EXPECT_EQ(image.localSourceFilePath(), std::filesystem::path(path));
  }
  // The plain path the library writes is a file URL that reads back to it.
  image.setLocalUri("/tmp/corvenza-0/a b%.jpg");
  auto url = image.getLocalSourceFileURL();
  ASSERT_TRUE(url);
  EXPECT_EQ(*url, "file:///tmp/corvenza-0/a%20b%25.jpg");
  image.setLocalUri(*url);
  EXPECT_EQ(image.localSourceFilePath(), std::filesystem::path("/tmp/corvenza-0/a b%.jpg"));
}

TEST(FilterInputs, HoldEveryKeyAndEncodeOnlyGivenOnes) {
  TableBodysizeEstimationFilterInput filter;
  EXPECT_EQ(filter.graphQLMap().size(), 24u);
  EXPECT_EQ(filter.toJson(), nlohmann::json::object());

  TableFloatFilterInput height;
  EXPECT_EQ(height.graphQLMap().size(), 9u);
  height.setBetween(TableFloatFilterInput::List{150.0, std::nullopt});
  height.setNe(InputValue<double>::null());
  filter.setHeight(height);
  TableIDFilterInput id;
  EXPECT_EQ(id.graphQLMap().size(), 10u);
  id.setBeginsWith(std::string("abc"));
  filter.setId(id);
  EXPECT_EQ(TableBooleanFilterInput().graphQLMap().size(), 2u);

  EXPECT_EQ(filter.toJson(),
            (nlohmann::json{{"height", {{"between", {150.0, nullptr}}, {"ne", nullptr}}},
                            {"id", {{"beginsWith", "abc"}}}}));
  auto back = filter.height().value();
  ASSERT_TRUE(back);
  EXPECT_EQ(back->between().value(), (TableFloatFilterInput::List{150.0, std::nullopt}));
  EXPECT_TRUE(back->ne().isNull());
}

}  // namespace
}  // namespace corvenza::graphql
