// Wrappers over decoded responses: typed reads, fragments as views over the
// same snapshot, nested images, lists with holes, setters.

#include <gtest/gtest.h>

#include "graphql/operations.h"

namespace corvenza::graphql {
namespace {

using nlohmann::json;

json image(const std::string& key) {
  return {{"__typename", "S3Object"}, {"bucket", "bkt"}, {"key", key}, {"region", "eu-west-1"}};
}

json fullEstimation() {
  json e = {{"__typename", "BodysizeEstimation"},
            {"id", "r1"},
            {"userId", "u1"},
            {"createdAt", 86400},
            {"status", "completed"},
            {"gender", "female"},
            {"age", 31},
            {"height", 170},
            {"weight", 60.5},
            {"frontImageThumb", image("u1/r1/front_thumb.jpg")},
            {"sideImageThumb", image("u1/r1/side_thumb.jpg")},
            {"frontImage", nullptr},
            {"sideImage", image("u1/r1/side.jpg")},
            {"annotatedFrontImageThumb", nullptr},
            {"annotatedSideImageThumb", nullptr},
            {"annotatedFrontImage", nullptr},
            {"annotatedSideImage", image("u1/r1/annotated_side_image.jpg")},
            {"failOnAutomaticEstimationFailure", nullptr},
            {"errorCode", nullptr},
            {"midThighCircumference", 58.5},
            {"probabilityOfNeckCircumferenceInHitZone", 87},
            {"unexpectedExtra", {1, 2, 3}}};
  return e;
}

TEST(Responses, GetResponseReadsThroughFragmentsWithoutCopying) {
  auto data = GetBodysizeEstimationQuery::decode({{"getBodysizeEstimation", fullEstimation()}});
  ASSERT_TRUE(data) << data.error().localizedDescription();
  auto root = data->getBodysizeEstimation();
  ASSERT_TRUE(root);
  EXPECT_EQ(root->typeName(), "BodysizeEstimation");
  BodysizeEstimation e = root->fragments().bodysizeEstimation();
  EXPECT_TRUE(e.snapshot.sharesStorageWith(root->snapshot));

  EXPECT_EQ(e.id(), "r1");
  EXPECT_EQ(e.createdAt(), 86400);
  EXPECT_EQ(e.status(), BodysizeEstimationStatus::completed());
  EXPECT_EQ(e.gender(), Gender::female());
  EXPECT_EQ(e.height(), 170.0);  // an integer on the wire still reads as a float
  EXPECT_EQ(e.midThighCircumference(), 58.5);
  EXPECT_FALSE(e.neckCircumference());
  EXPECT_EQ(e.probabilityOfNeckCircumferenceInHitZone(), 87);
  EXPECT_FALSE(e.failOnAutomaticEstimationFailure());
  EXPECT_FALSE(e.snapshot.contains("unexpectedExtra"));

  // A null image is absent; the others are read independently.
  EXPECT_FALSE(e.frontImage());
  EXPECT_FALSE(e.annotatedFrontImage());
  ASSERT_TRUE(e.sideImage());
  EXPECT_EQ(e.sideImage()->fragments().s3Object().key(), "u1/r1/side.jpg");
  EXPECT_EQ(e.annotatedSideImage()->fragments().s3Object().getKeyName(),
            "u1/r1/annotated_side_image.jpg");
  EXPECT_EQ(e.frontImageThumb()->fragments().s3Object().location(),
            corvenza::S3Object("bkt", "u1/r1/front_thumb.jpg", "eu-west-1"));

  // Writing through the fragment is seen by the root and vice versa.
  e.setWeight(61.0);
  EXPECT_EQ(root->snapshot.floating("weight"), 61.0);
  root->snapshot.set("errorCode", "E1");
  EXPECT_EQ(e.errorCode(), "E1");
}

TEST(Responses, CreateFragmentSharesTheRootObjectsId) {
  json object = {{"__typename", "BodysizeEstimation"},
                 {"id", "new-1"},
                 {"createdAt", 0},
                 {"status", "requested"},
                 {"weight", 60},
                 {"height", 170.2},
                 {"age", 0},
                 {"gender", nullptr},
                 {"userId", "u1"},
                 {"failOnAutomaticEstimationFailure", true}};
  auto data = CreateBodysizeEstimationMutation::decode({{"createBodysizeEstimation", object}});
  ASSERT_TRUE(data);
  auto root = data->createBodysizeEstimation();
  auto fragment = root->fragments().bodysizeEstimationMinimumOutput();
  EXPECT_EQ(fragment.id(), root->snapshot.string("id"));
  EXPECT_FALSE(fragment.gender());
  EXPECT_EQ(fragment.failOnAutomaticEstimationFailure(), true);
  EXPECT_EQ(fragment.status(), BodysizeEstimationStatus::requested());
}

TEST(Responses, ListItemsKeepNullElementsAndNullItems) {
  json item = {{"__typename", "BodysizeEstimation"},
               {"id", "a"},
               {"createdAt", 5},
               {"status", "pendingManualEstimation"},
               {"frontImageThumb", image("k")},
               {"sideImageThumb", nullptr},
               {"userId", "u"},
               {"failOnAutomaticEstimationFailure", nullptr}};
  json connection = {{"__typename", "BodysizeEstimationConnection"},
                     {"items", {item, nullptr, item}},
                     {"nextToken", "next"}};
  auto data = ListBodysizeEstimationsQuery::decode({{"listBodysizeEstimations", connection}});
  ASSERT_TRUE(data) << data.error().localizedDescription();
  auto list = data->listBodysizeEstimations();
  EXPECT_EQ(list->nextToken(), "next");
  auto items = list->items();
  ASSERT_TRUE(items);
  ASSERT_EQ(items->size(), 3u);
  EXPECT_FALSE((*items)[1]);
  auto index = (*items)[2]->fragments().bodysizeEstimationIndexOutput();
  EXPECT_EQ(index.id(), "a");
  EXPECT_TRUE(index.frontImageThumb());
  EXPECT_FALSE(index.sideImageThumb());

  connection["items"] = nullptr;
  connection["nextToken"] = nullptr;
  auto empty = ListBodysizeEstimationsQuery::decode({{"listBodysizeEstimations", connection}});
  ASSERT_TRUE(empty);
  EXPECT_FALSE(empty->listBodysizeEstimations()->items());
  EXPECT_FALSE(empty->listBodysizeEstimations()->nextToken());
}

TEST(Responses, DeleteAndSubscriptionObjectsCarryOnlyTheirFields) {
  auto deleted = DeleteBodysizeEstimationMutation::decode(
      {{"deleteBodysizeEstimation", {{"__typename", "BodysizeEstimation"}, {"id", "gone"}}}});
  ASSERT_TRUE(deleted);
  EXPECT_EQ(deleted->deleteBodysizeEstimation()->id(), "gone");

  auto event = OnUpdateEstimationRequestSubscription::decode(
      {{"onUpdateBodysizeEstimation",
        {{"__typename", "BodysizeEstimation"}, {"id", "e1"}, {"status", "Completed"}}}});
  ASSERT_TRUE(event);
  EXPECT_EQ(event->onUpdateBodysizeEstimation()->status(),
            BodysizeEstimationStatus::unknown("Completed"));

  auto nullRoot =
      OnCreateEstimationRequestSubscription::decode({{"onCreateBodysizeEstimation", nullptr}});
  ASSERT_TRUE(nullRoot);
  EXPECT_FALSE(nullRoot->onCreateBodysizeEstimation());
}

TEST(Responses, ConstructionFromFieldsBuildsTheSameShape) {
  BodysizeEstimationIndexOutput index("i1", 10, BodysizeEstimationStatus::failed(),
                                      FrontImageThumb(S3Object("b", "k", "r")), std::nullopt, "u1",
                                      false);
  ListBodysizeEstimation list(
      ListBodysizeEstimation::Items{ListBodysizeEstimation::Item(index), std::nullopt},
      std::nullopt);
  EXPECT_EQ(list.typeName(), "BodysizeEstimationConnection");
  auto items = list.items();
  ASSERT_EQ(items->size(), 2u);
  auto read = (*items)[0]->fragments().bodysizeEstimationIndexOutput();
  EXPECT_EQ(read.typeName(), "BodysizeEstimation");
  EXPECT_EQ(read.status(), BodysizeEstimationStatus::failed());
  EXPECT_EQ(read.frontImageThumb()->fragments().s3Object().bucket(), "b");
  EXPECT_TRUE(read.snapshot.isNull("sideImageThumb"));

  BodysizeEstimation full("r", "u", 1, BodysizeEstimationStatus::completed(), std::nullopt, 40, 180,
                          80);
  full.setUnderbust(90.5);
  GetBodysizeEstimationData data(GetBodysizeEstimation{full});
  auto back = data.getBodysizeEstimation()->fragments().bodysizeEstimation();
  EXPECT_EQ(back.underbust(), 90.5);
  EXPECT_TRUE(back.snapshot.isNull("frontImage"));
  EXPECT_EQ(back.age(), 40);

  // A wrapper over a hand-made snapshot missing its fields answers neutral values.
  BodysizeEstimation bare{Snapshot()};
  EXPECT_EQ(bare.id(), "");
  EXPECT_EQ(bare.status(), BodysizeEstimationStatus::unknown(""));
  EXPECT_FALSE(bare.frontImage());
}

}  // namespace
}  // namespace corvenza::graphql
