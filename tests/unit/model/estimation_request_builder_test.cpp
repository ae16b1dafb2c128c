#include "model/estimation_request_builder.h"

#include <gtest/gtest.h>

namespace corvenza::model {
namespace {

using graphql::BodysizeEstimation;
using Status = BodysizeEstimationStatus;

BodysizeEstimation full(const Status& status) {
  BodysizeEstimation e("r1", "u1", 86400, status, Gender::female(), 31, 170.5, 60.25);
  e.setErrorCode(std::string("E42"));
  e.setFailOnAutomaticEstimationFailure(true);
  e.setFrontImage(graphql::FrontImage(graphql::S3Object("b", "u1/r1/front.jpg", "eu-west-1")));
  e.setSideImageThumb(graphql::SideImageThumb(graphql::S3Object("", "", "")));
  e.setMidThighCircumference(58.5);
  e.setUnderbust(88.0);
  e.setBacklength(44.0);
  e.setNeckCircumference(37.25);
  return e;
}

TEST(RequestFromFullShape, CompletedCarriesResultButNoErrorCode) {
  auto r = makeEstimationRequest(full(Status::completed()));
  EXPECT_EQ(r->id, "r1");
  EXPECT_EQ(r->status, Status::completed());
  EXPECT_EQ(r->height, 170.5);
  EXPECT_EQ(r->weight, 60.25);
  EXPECT_EQ(r->age, 31);
  EXPECT_EQ(r->gender, Gender::female());
  EXPECT_EQ(r->failOnAutomaticEstimationFailure, true);
  EXPECT_EQ(r->createdAt, std::chrono::system_clock::time_point(std::chrono::hours(24)));
  EXPECT_FALSE(r->errorCode);
  ASSERT_TRUE(r->result);
  EXPECT_EQ(r->result->midThichCircumference, 58.5);
  EXPECT_EQ(r->result->underBust, 88.0);
  EXPECT_EQ(r->result->backLength, 44.0);
  EXPECT_EQ(r->result->neckCircumference, 37.25);
  EXPECT_FALSE(r->result->chestCircumference);
  EXPECT_FALSE(r->result->errorCode);

  ASSERT_TRUE(r->frontImage);
  EXPECT_EQ(r->frontImage->s3Object(), S3Object("b", "u1/r1/front.jpg", "eu-west-1"));
  EXPECT_FALSE(r->sideImage);
  EXPECT_FALSE(r->frontImageThumb);
  // Empty texts still make a downloadable proxy.
  ASSERT_TRUE(r->sideImageThumb);
  EXPECT_TRUE(r->sideImageThumb->isDownloadable());
}

TEST(RequestFromFullShape, CompletedWithAllNullMeasurementsHasEmptyResult) {
  BodysizeEstimation e("r", "u", 0, Status::completed(), std::nullopt, 1, 1, 1);
  auto r = makeEstimationRequest(e);
  ASSERT_TRUE(r->result);
  const EstimationResult& m = *r->result;
  for (const auto& v :
       {m.bicepCircumference, m.calfCircumference, m.chestCircumference, m.hipCircumference,
        m.highHipCircumference, m.neckCircumference, m.shoulderWidth, m.sleeveLength,
        m.thighCircumference, m.midThichCircumference, m.kneeCircumference, m.outseamLength,
        m.inseamLength, m.totalLength, m.waistCircumference, m.wristCircumference, m.underBust,
        m.backLength}) {
    EXPECT_FALSE(v);
  }
  EXPECT_FALSE(r->gender);
  EXPECT_EQ(r->createdAt, std::chrono::system_clock::time_point{});
}

TEST(RequestFromFullShape, FailedAndOtherStatusesSetOnlyWhatTheyOwn) {
  auto failed = makeEstimationRequest(full(Status::failed()));
  EXPECT_EQ(failed->errorCode, "E42");
  EXPECT_FALSE(failed->result);

  auto noCode = full(Status::failed());
  noCode.setErrorCode(std::nullopt);
  auto r = makeEstimationRequest(noCode);
  EXPECT_EQ(r->status, Status::failed());
  EXPECT_FALSE(r->errorCode);

  for (const auto& status : {Status::requested(), Status::pendingAutomaticEstimation(),
                             Status::unknown("Completed"), Status::unknown("archived")}) {
    auto other = makeEstimationRequest(full(status));
    EXPECT_FALSE(other->result) << status.rawValue();
    EXPECT_FALSE(other->errorCode) << status.rawValue();
    EXPECT_EQ(other->status->rawValue(), status.rawValue());
  }
}

TEST(RequestFromOtherShapes, CopyOnlyTheirFields) {
  graphql::BodysizeEstimationIndexOutput index(
      "i1", -86400, Status::completed(), graphql::FrontImageThumb(graphql::S3Object("b", "k", "r")),
      std::nullopt, "u", std::nullopt);
  auto listed = makeEstimationRequest(index);
  EXPECT_EQ(listed->id, "i1");
  EXPECT_EQ(listed->createdAt, std::chrono::system_clock::time_point(-std::chrono::hours(24)));
  EXPECT_TRUE(listed->frontImageThumb);
  EXPECT_FALSE(listed->sideImageThumb);
  EXPECT_FALSE(listed->result);  // only the get query yields measurements
  EXPECT_FALSE(listed->gender);
  EXPECT_FALSE(listed->height);
  EXPECT_FALSE(listed->failOnAutomaticEstimationFailure);

  graphql::BodysizeEstimationMinimumOutput minimum("m1", 5, Status::requested(), 61, 171, 22,
                                                   Gender::unknown("x"), "u", false);
  auto created = makeEstimationRequest(minimum);
  EXPECT_EQ(created->weight, 61.0);
  EXPECT_EQ(created->age, 22);
  EXPECT_EQ(created->gender, Gender::unknown("x"));
  EXPECT_EQ(created->failOnAutomaticEstimationFailure, false);
  EXPECT_FALSE(created->frontImageThumb);
  EXPECT_FALSE(created->result);

  auto deleted = makeEstimationRequest(graphql::DeleteBodysizeEstimation("d1"));
  EXPECT_EQ(deleted->id, "d1");
  EXPECT_FALSE(deleted->status);
  EXPECT_FALSE(deleted->createdAt);
}

TEST(RequestFromOtherShapes, ExtremeCreatedAtIsClampedNotOverflowed) {
  auto far = timeFromEpochSeconds(std::numeric_limits<std::int64_t>::max());
  auto past = timeFromEpochSeconds(std::numeric_limits<std::int64_t>::min());
  EXPECT_GT(far, timeFromEpochSeconds(4'000'000'000));
  EXPECT_LT(past, timeFromEpochSeconds(-4'000'000'000));
}

}  // namespace
}  // namespace corvenza::model
