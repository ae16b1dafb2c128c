#include "requests_fixture.h"

namespace corvenza::test {
namespace {

using Json = nlohmann::json;

TEST_F(RequestsTest, UpdateSendsGenderAsNullAndNeverTheFailFlag) {
  EstimationParameter parameter;
  parameter.heightInCm = 170.5;
  parameter.weightInKg = 62.25;
  parameter.age = 35;
  parameter.gender.reset();
  parameter.failOnAutomaticEstimationFailure = true;
  Outcome out;
  CorvenzaEnterprise::updateEstimationRequest("req", parameter, out.callback());
  auto call = gateway_->call(0);
  EXPECT_TRUE(call.isMutation);
  EXPECT_EQ(call.request.query.size(), 361u);
  EXPECT_EQ(*call.request.variables, (Json{{"input",
                                            {{"id", "req"},
                                             {"age", 35},
                                             {"gender", nullptr},
                                             {"height", 170.5},
                                             {"weight", 62.25}}}}));
  gateway_->answerJson(0, {{"data", {{"updateBodysizeEstimation", minimumObject("req")}}}});
  drain();
  ASSERT_EQ(out.calls, 1);
  ASSERT_TRUE(out.record);
  EXPECT_EQ(out.record->weight, 62.25);
  EXPECT_FALSE(out.record->frontImage);  // minimum shape: no images
}

TEST_F(RequestsTest, UpdateAndDeleteFailuresUseTheUnknownErrorDomain) {
  for (bool isDelete : {false, true}) {
    for (int variant = 0; variant < 2; ++variant) {
      SCOPED_TRACE(std::string(isDelete ? "delete" : "update") +
                   (variant ? " null root" : " no result"));
      gateway_ = std::make_shared<FakeGraphQLGateway>();
      useGateway(CorvenzaEnterprise::shared().impl(), gateway_);
      Outcome out;
      if (isDelete) {
        CorvenzaEnterprise::deleteEstimationRequest("req", out.callback());
      } else {
        CorvenzaEnterprise::updateEstimationRequest("req", EstimationParameter{}, out.callback());
      }
      if (variant == 0) {
        gateway_->answer(0, std::nullopt);
      } else {
        const char* root = isDelete ? "deleteBodysizeEstimation" : "updateBodysizeEstimation";
        gateway_->answerJson(0, {{"data", {{root, nullptr}}}});
      }
      drain();
      ASSERT_EQ(out.calls, 1);
      ASSERT_TRUE(out.errors);
      EXPECT_EQ(out.errors->front().domain(), "CorvenzaUnknownError");
      EXPECT_EQ(out.errors->front().code(), 1999);
      ASSERT_TRUE(out.errors->front().userInfo());
      EXPECT_TRUE(out.errors->front().userInfo()->empty());
    }
  }
}

TEST_F(RequestsTest, UpdateCallsBackOnlyAfterItsHandlerReturned) {
  Outcome out;
  CorvenzaEnterprise::updateEstimationRequest("req", EstimationParameter{}, out.callback());
  gateway_->answerJson(0, {{"data", {{"updateBodysizeEstimation", minimumObject("req")}}}});
  queue_->runPending();
  EXPECT_EQ(out.calls, 1);  // the extra hop ran in the same drain, after the handler
  // The cancelled time-out left with it: thousands a minute must not wait 45 s each.
  EXPECT_EQ(queue_->pendingCount(), 0u);
}

TEST_F(RequestsTest, DeleteSendsOnlyTheIdAndHandsBackAnIdOnlyRecord) {
  Outcome out;
  CorvenzaEnterprise::deleteEstimationRequest("req", out.callback());
  auto call = gateway_->call(0);
  EXPECT_EQ(call.request.query.size(), 147u);
  EXPECT_EQ(*call.request.variables, (Json{{"input", {{"id", "req"}}}}));
  gateway_->answerJson(
      0, {{"data",
           {{"deleteBodysizeEstimation", {{"__typename", "BodysizeEstimation"}, {"id", "req"}}}}}});
  drain();
  ASSERT_TRUE(out.record);
  EXPECT_EQ(out.record->id, "req");
  EXPECT_FALSE(out.record->status);
  EXPECT_FALSE(out.record->createdAt);
}

TEST_F(RequestsTest, GraphQLErrorsArePrintedAndHandedOn) {
  Outcome out;
  CorvenzaEnterprise::deleteEstimationRequest("req", out.callback());
  gateway_->answerJson(0, {{"errors", {{{"message", "not yours"}}, {{"message", "again"}}}}});
  drain();
  ASSERT_EQ(out.calls, 1);
  ASSERT_EQ(out.errors->size(), 2u);
  EXPECT_EQ(out.errors->at(0).localizedDescription(), "not yours");
  EXPECT_TRUE(console_.contains("not yours"));
  EXPECT_TRUE(console_.contains("again"));
}

}  // namespace
}  // namespace corvenza::test
