#include "requests_fixture.h"
#include "testkit/fake_clock.h"

namespace corvenza::test {
namespace {

using Json = nlohmann::json;

TEST_F(RequestsTest, GetSendsTheQueryAndBuildsTheFullRecord) {
  Outcome out;
  CorvenzaEnterprise::getEstimationRequest("req-1", out.callback());
  ASSERT_EQ(gateway_->callCount(), 1u);
  auto call = gateway_->call(0);
  EXPECT_FALSE(call.isMutation);
  EXPECT_EQ(call.request.query.size(), 1815u);
  EXPECT_EQ(*call.request.variables, (Json{{"id", "req-1"}}));
  EXPECT_EQ(call.cachePolicy, appsync::CachePolicy::fetchIgnoringCacheData);

  auto object = fullObject("req-1", "completed");
  object["midThighCircumference"] = 58.5;
  gateway_->answerJson(0, {{"data", {{"getBodysizeEstimation", object}}}});
  EXPECT_EQ(out.calls, 0);  // never inline
  drain();
  ASSERT_EQ(out.calls, 1);
  ASSERT_TRUE(out.record);
  EXPECT_FALSE(out.errors);
  EXPECT_EQ(out.record->id, "req-1");
  EXPECT_EQ(out.record->height, 170.5);
  ASSERT_TRUE(out.record->result);
  EXPECT_EQ(out.record->result->midThichCircumference, 58.5);
  EXPECT_TRUE(console_.contains("[SPEED_TEST]:retServe:"));
  EXPECT_TRUE(console_.contains("[req-1]"));
}

TEST_F(RequestsTest, GetOutcomesFollowTheOrderOfChecks) {
  struct Case {
    const char* name;
    std::function<void(FakeGraphQLGateway&)> answer;
    int expectedCode;  // 0: the answer's own errors
    std::size_t expectedErrors;
  };
  const Case cases[] = {
      {"transport error", [](auto& g) { g.fail(0, Error("Transport", -1004)); }, -1004, 1},
      {"no result", [](auto& g) { g.answer(0, std::nullopt); }, 2000, 1},
      {"errors win over data",
       [](auto& g) {
         g.answerJson(0, {{"data", {{"getBodysizeEstimation", fullObject("a", "requested")}}},
                          {"errors", {{{"message", "boom"}}}}});
       },
       0, 1},
      {"errors beside data that does not decode",
       [](auto& g) {
         g.answerJson(0, {{"data", {{"getBodysizeEstimation", {{"id", 5}}}}},
                          {"errors", {{{"message", "boom"}}}}});
       },
       0, 1},
      {"empty errors array",
       [](auto& g) {
         g.answerJson(0, {{"errors", Json::array()}});
       },
       0, 0},
      {"null root",
       [](auto& g) {
         g.answerJson(0, {{"data", {{"getBodysizeEstimation", nullptr}}}});
       },
       2000, 1},
      {"no data", [](auto& g) { g.answer(0, appsync::GraphQLResult{}); }, 2000, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    gateway_ = std::make_shared<FakeGraphQLGateway>();
    useGateway(CorvenzaEnterprise::shared().impl(), gateway_);
    Outcome out;
    CorvenzaEnterprise::getEstimationRequest("id", out.callback());
    c.answer(*gateway_);
    drain();
    ASSERT_EQ(out.calls, 1);
    EXPECT_FALSE(out.record);
    ASSERT_TRUE(out.errors);
    ASSERT_EQ(out.errors->size(), c.expectedErrors);
    if (c.expectedCode != 0) {
      EXPECT_EQ(out.errors->front().code(), c.expectedCode);
    } else if (c.expectedErrors > 0) {
      EXPECT_EQ(out.errors->front().localizedDescription(), "boom");  // the service's own
    }
  }
}

TEST_F(RequestsTest, GetOfAnIdThisUserDoesNotHaveSaysSoToPrograms) {
  Outcome out;
  CorvenzaEnterprise::getEstimationRequest("someone-elses", out.callback());
  gateway_->answerJson(0, {{"data", {{"getBodysizeEstimation", nullptr}}}});
  drain();
  ASSERT_EQ(out.calls, 1);
  const auto& error = out.errors->front();
  EXPECT_EQ(error.code(), 2000);
  EXPECT_EQ(error.userInfoValue(error_info::kReason), "notFound");
  EXPECT_EQ(error.userInfoValue(error_info::kRequestId), "someone-elses");
}

TEST_F(RequestsTest, OfflineReadsComeFromTheCacheOnly) {
  online_ = device::Connection::unavailable;
  CorvenzaEnterprise::getEstimationRequest("id", {});
  CorvenzaEnterprise::listEstimationRequests(std::nullopt, std::nullopt, {});
  ASSERT_EQ(gateway_->callCount(), 2u);
  EXPECT_EQ(gateway_->call(0).cachePolicy, appsync::CachePolicy::returnCacheDataDontFetch);
  EXPECT_EQ(gateway_->call(1).cachePolicy, appsync::CachePolicy::returnCacheDataDontFetch);
}

struct ListOutcome {
  int calls = 0;
  std::optional<std::vector<std::shared_ptr<EstimationRequest>>> records;
  std::optional<std::string> nextToken;
  std::optional<Errors> errors;
  ListCallback callback() {
    return [this](auto r, auto t, auto e) {
      ++calls;
      records = std::move(r);
      nextToken = std::move(t);
      errors = std::move(e);
    };
  }
};

TEST_F(RequestsTest, ListWithoutLimitOrTokenSendsNeitherAndDropsNullItems) {
  ListOutcome out;
  CorvenzaEnterprise::listEstimationRequests(std::nullopt, std::nullopt, out.callback());
  auto call = gateway_->call(0);
  EXPECT_EQ(call.request.query.size(), 627u);
  EXPECT_TRUE(!call.request.variables || call.request.variables->empty() ||
              *call.request.variables == Json::object());

  Json item = {{"__typename", "BodysizeEstimation"},
               {"id", "a"},
               {"createdAt", 1},
               {"status", "completed"},
               {"frontImageThumb", nullptr},
               {"sideImageThumb", nullptr},
               {"userId", "u"},
               {"failOnAutomaticEstimationFailure", nullptr}};
  Json second = item;
  second["id"] = "b";
  gateway_->answerJson(0, {{"data",
                            {{"listBodysizeEstimations",
                              {{"__typename", "BodysizeEstimationConnection"},
                               {"items", Json::array({item, nullptr, second})},
                               {"nextToken", nullptr}}}}}});
  drain();
  ASSERT_EQ(out.calls, 1);
  ASSERT_TRUE(out.records);
  ASSERT_EQ(out.records->size(), 2u);
  EXPECT_EQ((*out.records)[0]->id, "a");
  EXPECT_EQ((*out.records)[1]->id, "b");
  EXPECT_FALSE((*out.records)[0]->result);  // the list never carries measurements
  EXPECT_FALSE(out.nextToken);
  EXPECT_FALSE(out.errors);
}

TEST_F(RequestsTest, ListPassesLimitAndTokenAndReportsMissingItems) {
  ListOutcome out;
  CorvenzaEnterprise::listEstimationRequests(10, "tok", out.callback());
  EXPECT_EQ(*gateway_->call(0).request.variables, (Json{{"limit", 10}, {"nextToken", "tok"}}));
  gateway_->answerJson(0, {{"data",
                            {{"listBodysizeEstimations",
                              {{"__typename", "BodysizeEstimationConnection"},
                               {"items", nullptr},
                               {"nextToken", "more"}}}}}});
  drain();
  ASSERT_TRUE(out.errors);
  EXPECT_EQ(out.errors->front().code(), 2000);
  EXPECT_FALSE(out.records);
}

TEST_F(RequestsTest, WithoutAClientEveryOperationReportsNotInitializedOnce) {
  useGateway(CorvenzaEnterprise::shared().impl(), nullptr);
  Outcome get, update, remove;
  ListOutcome list;
  CorvenzaEnterprise::getEstimationRequest("x", get.callback());
  CorvenzaEnterprise::listEstimationRequests(1, std::nullopt, list.callback());
  CorvenzaEnterprise::updateEstimationRequest("x", EstimationParameter{}, update.callback());
  CorvenzaEnterprise::deleteEstimationRequest("x", remove.callback());
  EXPECT_EQ(get.calls + list.calls + update.calls + remove.calls, 0);
  drain();
  for (auto* o : {&get, &update, &remove}) {
    ASSERT_EQ(o->calls, 1);
    EXPECT_EQ(o->errors->front().code(), 1998);
  }
  EXPECT_EQ(list.calls, 1);
  EXPECT_EQ(list.errors->front().code(), 1998);
}

}  // namespace
}  // namespace corvenza::test

namespace corvenza::test {
namespace {

class OperationTimeOutTest : public RequestsTest {
 protected:
  void SetUp() override {
    RequestsTest::SetUp();
    clock_ = std::make_shared<FakeClock>();
    queue_ = MainQueue::callerDriven(clock_);
    CorvenzaEnterprise::setMainQueue(queue_);
  }
  std::shared_ptr<FakeClock> clock_;
};

TEST_F(OperationTimeOutTest, ReadsAndChangesTheServiceNeverAnswersEndOnceAfter45Seconds) {
  struct Case {
    const char* name;
    std::function<void(std::function<void(std::optional<Errors>)>)> start;
  };
  EstimationParameter parameter;
  parameter.heightInCm = 170;
  parameter.weightInKg = 60;
  parameter.age = 30;
  const Case cases[] = {
      {"get",
       [](auto done) {
         CorvenzaEnterprise::getEstimationRequest("id", [done](auto, auto e) { done(e); });
       }},
      {"list",
       [](auto done) {
         CorvenzaEnterprise::listEstimationRequests(std::nullopt, std::nullopt,
                                                    [done](auto, auto, auto e) { done(e); });
       }},
      {"update",
       [parameter](auto done) {
         CorvenzaEnterprise::updateEstimationRequest("id", parameter,
                                                     [done](auto, auto e) { done(e); });
       }},
      {"delete",
       [](auto done) {
         CorvenzaEnterprise::deleteEstimationRequest("id", [done](auto, auto e) { done(e); });
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    gateway_->forget();
    gateway_ = std::make_shared<FakeGraphQLGateway>();
    useGateway(CorvenzaEnterprise::shared().impl(), gateway_);
    int calls = 0;
    std::optional<Errors> errors;
    c.start([&](std::optional<Errors> e) {
      ++calls;
      errors = std::move(e);
    });
    clock_->advance(std::chrono::seconds(44));
    drain();
    EXPECT_EQ(calls, 0);
    clock_->advance(std::chrono::seconds(1));
    drain();
    ASSERT_EQ(calls, 1);
    ASSERT_TRUE(errors);
    EXPECT_EQ(errors->front().code(), 1995);
    EXPECT_TRUE(gateway_->wasCancelled(0));
    gateway_->answerJson(0, {{"errors", {{{"message", "late"}}}}});  // too late to count
    clock_->advance(std::chrono::seconds(100));
    drain();
    EXPECT_EQ(calls, 1);
  }
}

}  // namespace
}  // namespace corvenza::test
