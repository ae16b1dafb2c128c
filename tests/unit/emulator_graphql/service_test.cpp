#include <set>

#include "service_fixture.h"

namespace corvenza::emulator::testing {
namespace {

using estimation::ChangeKind;

TEST_F(ServiceTest, RunsTheClientsOperationsEndToEnd) {
  const auto created =
      runClient("create_bodysize_estimation", {{"input",
                                                {{"age", 30},
                                                 {"height", 170.5},
                                                 {"weight", 62.25},
                                                 {"gender", nullptr},
                                                 {"failOnAutomaticEstimationFailure", nullptr}}}});
  ASSERT_FALSE(created.contains("errors")) << created.dump();
  const auto& minimum = created["data"]["createBodysizeEstimation"];
  const auto id = minimum["id"].get<std::string>();
  EXPECT_EQ(minimum["__typename"], "BodysizeEstimation");
  EXPECT_EQ(minimum["createdAt"], now_);
  EXPECT_EQ(minimum["status"], "requested");
  EXPECT_EQ(minimum["height"], 170.5);
  EXPECT_EQ(minimum["weight"], 62.25);
  EXPECT_EQ(minimum["age"], 30);
  EXPECT_TRUE(minimum["gender"].is_null());
  EXPECT_EQ(minimum["userId"], kAlice);
  // Exactly the fragment's selections, in the fragment's order.
  std::vector<std::string> keys;
  for (const auto& [key, value] : minimum.items()) keys.push_back(key);
  EXPECT_EQ(keys.size(), 10u);

  const auto frontKey = photoKey(kAlice, id, "front.jpg");
  const auto front = runClient("attach_front_image", {{"id", id}, {"image", image(frontKey)}});
  EXPECT_EQ(front["data"]["attachFrontImage"]["status"], "requested");
  const auto side = runClient("attach_side_image",
                              {{"id", id}, {"image", image(photoKey(kAlice, id, "side.jpg"))}});
  EXPECT_EQ(side["data"]["attachSideImage"]["status"], "pendingAutomaticEstimation");

  const auto got = runClient("get_bodysize_estimation", {{"id", id}});
  ASSERT_FALSE(got.contains("errors")) << got.dump();
  const auto& full = got["data"]["getBodysizeEstimation"];
  EXPECT_EQ(full["frontImage"], (nlohmann::json{{"__typename", "S3Object"},
                                                {"bucket", kPhotoBucket},
                                                {"key", frontKey},
                                                {"region", "ap-northeast-1"}}));
  EXPECT_EQ(full["sideImage"]["key"], photoKey(kAlice, id, "side.jpg"));
  EXPECT_TRUE(full["frontImageThumb"].is_null());
  EXPECT_TRUE(full["neckCircumference"].is_null());
  EXPECT_TRUE(full.contains("probabilityOfWristCircumferenceInHitZone"));

  const auto updated = runClient("update_bodysize_estimation",
                                 {{"input", {{"id", id}, {"age", 31}, {"gender", "male"}}}});
  EXPECT_EQ(updated["data"]["updateBodysizeEstimation"]["age"], 31);
  EXPECT_EQ(updated["data"]["updateBodysizeEstimation"]["gender"], "male");
  EXPECT_EQ(updated["data"]["updateBodysizeEstimation"]["height"], 170.5);

  const auto listed = runClient("list_bodysize_estimations",
                                {{"filter", nullptr}, {"limit", nullptr}, {"nextToken", nullptr}});
  ASSERT_EQ(listed["data"]["listBodysizeEstimations"]["items"].size(), 1u);
  EXPECT_EQ(listed["data"]["listBodysizeEstimations"]["items"][0]["id"], id);
  EXPECT_TRUE(listed["data"]["listBodysizeEstimations"]["nextToken"].is_null());

  const auto deleted = runClient("delete_bodysize_estimation", {{"input", {{"id", id}}}});
  EXPECT_EQ(deleted["data"]["deleteBodysizeEstimation"],
            (nlohmann::json{{"__typename", "BodysizeEstimation"}, {"id", id}}));
  const auto gone = runClient("get_bodysize_estimation", {{"id", id}});
  EXPECT_FALSE(gone.contains("errors"));
  EXPECT_TRUE(gone["data"]["getBodysizeEstimation"].is_null());
}

TEST_F(ServiceTest, UpdateClearsGenderOnlyOnExplicitNull) {
  const auto id = create();
  const auto untouched =
      runClient("update_bodysize_estimation", {{"input", {{"id", id}, {"weight", 70}}}});
  EXPECT_EQ(untouched["data"]["updateBodysizeEstimation"]["gender"], "female");
  EXPECT_EQ(untouched["data"]["updateBodysizeEstimation"]["weight"], 70.0);
  const auto cleared =
      runClient("update_bodysize_estimation", {{"input", {{"id", id}, {"gender", nullptr}}}});
  EXPECT_TRUE(cleared["data"]["updateBodysizeEstimation"]["gender"].is_null());
  EXPECT_EQ(cleared["data"]["updateBodysizeEstimation"]["weight"], 70.0);
  EXPECT_EQ(cleared["data"]["updateBodysizeEstimation"]["failOnAutomaticEstimationFailure"], false);
}

TEST_F(ServiceTest, AnotherIdentitysRequestsAreInvisibleAndUntouchable) {
  const auto id = create(kAlice);
  const auto read = runClient("get_bodysize_estimation", {{"id", id}}, kBob);
  EXPECT_TRUE(read["data"]["getBodysizeEstimation"].is_null());
  const auto listed = runClient("list_bodysize_estimations", nlohmann::json::object(), kBob);
  EXPECT_TRUE(listed["data"]["listBodysizeEstimations"]["items"].empty());

  const auto updated =
      runClient("update_bodysize_estimation", {{"input", {{"id", id}, {"age", 99}}}}, kBob);
  const auto deleted = runClient("delete_bodysize_estimation", {{"input", {{"id", id}}}}, kBob);
  const auto attached = runClient(
      "attach_front_image", {{"id", id}, {"image", image(photoKey(kBob, id, "x.jpg"))}}, kBob);
  const auto missing =
      runClient("delete_bodysize_estimation", {{"input", {{"id", "no-such-request"}}}}, kBob);
  for (const auto* response : {&updated, &deleted, &attached}) {
    const auto& root = *(*response)["data"].begin();
    EXPECT_TRUE(root.is_null());
    ASSERT_EQ((*response)["errors"].size(), 1u);
    // Indistinguishable from a request that does not exist.
    EXPECT_EQ((*response)["errors"][0]["errorType"], missing["errors"][0]["errorType"]);
    EXPECT_EQ((*response)["errors"][0]["message"], missing["errors"][0]["message"]);
    EXPECT_EQ((*response)["errors"][0]["path"].size(), 1u);
  }
  const auto mine = runClient("get_bodysize_estimation", {{"id", id}}, kAlice);
  EXPECT_EQ(mine["data"]["getBodysizeEstimation"]["age"], 30);
  EXPECT_TRUE(mine["data"]["getBodysizeEstimation"]["frontImage"].is_null());
}

TEST_F(ServiceTest, AttachTakesOnlyPhotosInThePhotoBucketUnderTheCallersOwnPrefix) {
  const auto id = create(kAlice);
  const auto mine = photoKey(kAlice, id, "front.jpg");
  const std::vector<nlohmann::json> refused = {
      image(photoKey(kBob, id, "front.jpg")),
      image("front.jpg"),
      image(std::string(kAlice) + "x/" + id + "/front.jpg"),
      image(std::string(kAlice) + "/../" + kBob + "/front.jpg"),
      image(mine, "other-bucket"),
  };
  for (const auto& photo : refused) {
    for (const auto* op : {"attach_front_image", "attach_side_image"}) {
      SCOPED_TRACE(std::string(op) + " " + photo.dump());
      const auto response = runClient(op, {{"id", id}, {"image", photo}});
      EXPECT_TRUE((*response["data"].begin()).is_null()) << response.dump();
      ASSERT_EQ(response["errors"].size(), 1u) << response.dump();
      const auto& error = response["errors"][0];
      EXPECT_EQ(error["errorType"], "ValidationError");
      EXPECT_EQ(error["path"].size(), 1u);
      // The message names the rule, not the other identity or the key given.
      const auto message = error["message"].get<std::string>();
      EXPECT_NE(message.find("image"), std::string::npos) << message;
      EXPECT_EQ(message.find(kBob), std::string::npos) << message;
      EXPECT_EQ(message.find(photo["key"].get<std::string>()), std::string::npos) << message;
    }
  }
  const auto unchanged = **store_->get(kAlice, id);
  EXPECT_TRUE(unchanged.images.empty());
  EXPECT_EQ(unchanged.status, "requested");

  // The library's own keys, in the photo bucket, are taken.
  attachBoth(id);
  EXPECT_EQ((**store_->get(kAlice, id)).status, "pendingAutomaticEstimation");
}

TEST_F(ServiceTest, PagesThroughRequestsWithOpaqueTokens) {
  std::set<std::string> created;
  for (int i = 0; i < 25; ++i) {
    if (i % 4 == 0) ++now_;  // several requests share a creation second
    created.insert(create(kAlice));
  }
  create(kBob);

  std::set<std::string> seen;
  std::vector<std::size_t> sizes;
  nlohmann::json token = nullptr;
  std::int64_t lastCreatedAt = 0;
  do {
    const auto page = runClient("list_bodysize_estimations", {{"limit", 10}, {"nextToken", token}});
    ASSERT_FALSE(page.contains("errors")) << page.dump();
    const auto& connection = page["data"]["listBodysizeEstimations"];
    sizes.push_back(connection["items"].size());
    for (const auto& item : connection["items"]) {
      EXPECT_TRUE(seen.insert(item["id"].get<std::string>()).second) << "duplicate item";
      EXPECT_GE(item["createdAt"].get<std::int64_t>(), lastCreatedAt);
      lastCreatedAt = item["createdAt"].get<std::int64_t>();
    }
    token = connection["nextToken"];
  } while (!token.is_null() && sizes.size() < 5);
  EXPECT_EQ(sizes, (std::vector<std::size_t>{10, 10, 5}));
  EXPECT_EQ(seen, created);

  const auto first = runClient("list_bodysize_estimations", {{"limit", 10}});
  const auto goodToken = first["data"]["listBodysizeEstimations"]["nextToken"].get<std::string>();
  auto tampered = goodToken;
  tampered[tampered.size() / 2] = tampered[tampered.size() / 2] == 'A' ? 'B' : 'A';
  const std::vector<std::pair<std::string, std::string>> refusals = {
      {tampered, kAlice}, {goodToken, kBob}, {"garbage", kAlice}};
  for (const auto& [badToken, caller] : refusals) {
    const auto rejected = runClient("list_bodysize_estimations", {{"nextToken", badToken}}, caller);
    EXPECT_TRUE(rejected["data"]["listBodysizeEstimations"].is_null());
    ASSERT_TRUE(rejected.contains("errors"));
  }
  const auto byDefault = runClient("list_bodysize_estimations", nlohmann::json::object());
  EXPECT_EQ(byDefault["data"]["listBodysizeEstimations"]["items"].size(), 20u);
}

TEST_F(ServiceTest, ListFilterSelectsMatchingRequests) {
  create(kAlice, 150);
  const auto tall = create(kAlice, 190);
  const auto query = R"(query ($f: TableBodysizeEstimationFilterInput) {
      listBodysizeEstimations(filter: $f) { items { id height } } })";
  const auto filtered =
      run(query, {{"f", {{"height", {{"gt", 180}}}, {"status", {{"eq", "requested"}}}}}});
  ASSERT_EQ(filtered["data"]["listBodysizeEstimations"]["items"].size(), 1u) << filtered.dump();
  EXPECT_EQ(filtered["data"]["listBodysizeEstimations"]["items"][0]["id"], tall);
  const auto none = run(query, {{"f", {{"gender", {{"eq", "male"}}}}}});
  EXPECT_TRUE(none["data"]["listBodysizeEstimations"]["items"].empty());
}

TEST_F(ServiceTest, SubscriptionsDeliverOnlyTheSubscribersOwnEventsOfTheirKind) {
  const nlohmann::json request = {{"query", clientRequestString("on_update_estimation_request")},
                                  {"variables", {{"userId", kAlice}}}};
  auto prepared = service_->prepareSubscription(request.dump(), kAlice);
  ASSERT_TRUE(std::holds_alternative<gql::SubscriptionPlan>(prepared));
  const auto& plan = std::get<gql::SubscriptionPlan>(prepared);

  const auto id = create(kAlice);
  const auto json = estimation::toGraphQL(**store_->get(kAlice, id));
  const auto event =
      service_->executeSubscriptionEvent(plan, ChangeKind::Update, kAlice, json, kAlice);
  ASSERT_TRUE(event.has_value());
  EXPECT_EQ((*event)["data"]["onUpdateBodysizeEstimation"],
            (nlohmann::ordered_json{
                {"__typename", "BodysizeEstimation"}, {"id", id}, {"status", "requested"}}));
  EXPECT_FALSE(service_->executeSubscriptionEvent(plan, ChangeKind::Create, kAlice, json, kAlice));
  EXPECT_FALSE(service_->executeSubscriptionEvent(plan, ChangeKind::Update, kBob, json, kAlice));

  // Subscribing to someone else's events is refused outright.
  const auto refused = service_->prepareSubscription(request.dump(), kBob);
  ASSERT_TRUE(std::holds_alternative<nlohmann::ordered_json>(refused));
  EXPECT_EQ(std::get<nlohmann::ordered_json>(refused)["errors"][0]["errorType"], "Unauthorized");
  const nlohmann::json query = {{"query", clientRequestString("get_bodysize_estimation")},
                                {"variables", {{"id", id}}}};
  EXPECT_TRUE(std::holds_alternative<nlohmann::ordered_json>(
      service_->prepareSubscription(query.dump(), kAlice)));
}

TEST_F(ServiceTest, SubscriptionRequestsNestedTooDeepAreRefused) {
  const auto data = nlohmann::json{{"query", clientRequestString("on_create_estimation_request")},
                                   {"variables", {{"userId", kAlice}}}}
                        .dump();
  ASSERT_TRUE(
      std::holds_alternative<gql::SubscriptionPlan>(service_->prepareSubscription(data, kAlice)));
  const auto deep = R"({"query":"subscription { __typename }","variables":{"userId":)" +
                    std::string(60'000, '[') + std::string(60'000, ']') + "}}";
  const auto refused = service_->prepareSubscription(deep, kAlice);
  ASSERT_TRUE(std::holds_alternative<nlohmann::ordered_json>(refused));
  EXPECT_EQ(std::get<nlohmann::ordered_json>(refused)["errors"][0]["errorType"],
            "MalformedHttpRequestException");
}

TEST_F(ServiceTest, StoreListenersHearEveryChangeWithItsOwner) {
  std::vector<std::pair<ChangeKind, std::string>> heard;
  store_->addListener([&heard](ChangeKind kind, const std::string& owner, const nlohmann::json&) {
    heard.emplace_back(kind, owner);
  });
  const auto id = create(kBob);
  attachBoth(id, kBob);
  runClient("delete_bodysize_estimation", {{"input", {{"id", id}}}}, kAlice);  // not Alice's
  runClient("delete_bodysize_estimation", {{"input", {{"id", id}}}}, kBob);
  const std::vector<std::pair<ChangeKind, std::string>> expected = {{ChangeKind::Create, kBob},
                                                                    {ChangeKind::Update, kBob},
                                                                    {ChangeKind::Update, kBob},
                                                                    {ChangeKind::Delete, kBob}};
  EXPECT_EQ(heard, expected);
}

}  // namespace
}  // namespace corvenza::emulator::testing
