// Subscriptions against the emulator: events reach the owner's subscribers
// only, and a dropped socket is reopened without the subscriber's help.

#include <corvenza/main_queue.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "emulator_caller.h"
#include "emulator_http_client.h"
#include "fault_control.h"
#include "platform/appsync/realtime/realtime_client.h"
#include "platform/sigv4/signer.h"
#include "requests/typed_graphql.h"
#include "testkit/emulator_process.h"
#include "testkit/fixed_credentials.h"

namespace corvenza::test {
namespace {

using json = nlohmann::json;
using namespace std::chrono_literals;

using User = EmulatorCaller;

appsync::GraphQLRequest subscriptionRequest(int kind, const std::string& userId) {
  switch (kind) {
    case 0:
      return requests::makeGraphQLRequest(graphql::OnCreateEstimationRequestSubscription(userId));
    case 1:
      return requests::makeGraphQLRequest(graphql::OnUpdateEstimationRequestSubscription(userId));
    default:
      return requests::makeGraphQLRequest(graphql::OnDeleteEstimationRequestSubscription(userId));
  }
}

/// What one subscription received, in order: the root object of each event or the error text.
struct Received {
  std::vector<json> events;
  std::vector<std::string> errors;
};

class RealtimeIntegrationTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    emulator_ = std::make_unique<EmulatorProcess>(CORVENZA_EMULATOR_PATH);
  }
  static void TearDownTestSuite() { emulator_.reset(); }

  void SetUp() override {
    ASSERT_TRUE(emulator_->ok()) << emulator_->error();
    queue_ = MainQueue::callerDriven();
  }

  // A token from the authentication service, traded for credentials.
  static User signIn(const std::string& userId) { return signInToEmulator(*emulator_, userId); }

  /// A signed GraphQL request; returns the "data" member.
  static json graphql(const User& user, const std::string& query, const json& variables) {
    http::HttpRequest request;
    request.method = "POST";
    request.url = emulator_->endpoint("graphql");
    request.body = json{{"query", query}, {"variables", variables}}.dump();
    http::setHeader(request.headers, "content-type", "application/json");
    sigv4::SigningParams params;
    params.region = emulator_->endpoint("region");
    params.service = "appsync";
    params.credentials = user.credentials;
    params.time = std::chrono::system_clock::now();
    EXPECT_TRUE(sigv4::signRequest(request, params));
    std::vector<std::string> headers;
    for (const auto& [name, value] : request.headers) headers.push_back(name + ": " + value);
    auto response = plainRequest("POST", request.url, headers, request.body);
    return json::parse(response.body, nullptr, false).value("data", json());
  }

  static std::string create(const User& user) {
    auto data = graphql(user,
                        "mutation C($input: CreateBodysizeEstimationInput!) { "
                        "createBodysizeEstimation(input: $input) { id status } }",
                        {{"input", {{"height", 170.5}, {"weight", 62.25}, {"age", 35}}}});
    return data["createBodysizeEstimation"].value("id", "");
  }

  std::shared_ptr<appsync::RealtimeClient> client(const User& user) {
    appsync::RealtimeConfiguration configuration;
    configuration.endpointURL = emulator_->endpoint("graphql");
    configuration.region = emulator_->endpoint("region");
    configuration.credentials = std::make_shared<FixedCredentials>(user.credentials);
    configuration.reconnectBase = 100ms;
    auto made = appsync::makeRealtimeClient(configuration);
    EXPECT_TRUE(made);
    return made ? made.value() : nullptr;
  }

  std::shared_ptr<appsync::SubscriptionWatcher> subscribe(appsync::RealtimeClient& client, int kind,
                                                          const std::string& userId,
                                                          Received& into) {
    auto watcher = client.subscribe(
        subscriptionRequest(kind, userId), queue_,
        [&into](std::optional<appsync::GraphQLResult> result, std::optional<Error> error) {
          if (error) into.errors.push_back(error->localizedDescription());
          if (result && result->data) into.events.push_back(result->data->begin().value());
        });
    EXPECT_TRUE(watcher);
    return watcher ? watcher.value() : nullptr;
  }

  bool waitFor(const std::function<bool()>& done) { return queue_->runUntil(done, 20s); }

  /// Subscriptions start asynchronously: probe with a create until one arrives.
  void awaitStarted(const User& owner, Received& creations) {
    ASSERT_TRUE(waitFor([&] {
      if (!creations.events.empty()) return true;
      create(owner);
      queue_->runFor(200ms);
      return !creations.events.empty();
    })) << emulator_->log()
        << (creations.errors.empty() ? "" : creations.errors.front());
  }

  static std::unique_ptr<EmulatorProcess> emulator_;
  std::shared_ptr<MainQueue> queue_;
};

std::unique_ptr<EmulatorProcess> RealtimeIntegrationTest::emulator_;

TEST_F(RealtimeIntegrationTest, EventsReachTheOwnersSubscribersOnly) {
  auto alice = signIn("realtime-alice");
  auto bob = signIn("realtime-bob");
  ASSERT_FALSE(alice.credentials.accessKeyId.empty()) << emulator_->log();
  ASSERT_FALSE(bob.credentials.accessKeyId.empty());

  auto aliceClient = client(alice);
  auto bobClient = client(bob);
  Received aliceCreated, aliceUpdated, aliceDeleted, bobCreated;
  auto w1 = subscribe(*aliceClient, 0, alice.identityId, aliceCreated);
  auto w2 = subscribe(*aliceClient, 1, alice.identityId, aliceUpdated);
  auto w3 = subscribe(*aliceClient, 2, alice.identityId, aliceDeleted);
  auto w4 = subscribe(*bobClient, 0, bob.identityId, bobCreated);
  awaitStarted(alice, aliceCreated);
  awaitStarted(bob, bobCreated);
  aliceCreated.events.clear();
  bobCreated.events.clear();

  const auto id = create(alice);
  ASSERT_FALSE(id.empty());
  ASSERT_TRUE(waitFor([&] { return !aliceCreated.events.empty(); }));
  EXPECT_EQ(aliceCreated.events.back()["id"], id);
  EXPECT_EQ(aliceCreated.events.back()["status"], "requested");

  graphql(alice,
          "mutation U($input: UpdateBodysizeEstimationInput!) { "
          "updateBodysizeEstimation(input: $input) { id } }",
          {{"input", {{"id", id}, {"age", 36}}}});
  ASSERT_TRUE(waitFor([&] { return !aliceUpdated.events.empty(); }));
  EXPECT_EQ(aliceUpdated.events.back()["id"], id);

  // Attaching both photos starts the estimator; its completion is an update too.
  for (const char* field : {"attachFrontImage", "attachSideImage"}) {
    const json image = {{"bucket", "corvenza-photos"},
                        {"key", alice.identityId + "/" + id + "/photo.jpg"},
                        {"region", emulator_->endpoint("region")},
                        {"localUri", "/tmp/photo.jpg"},
                        {"mimeType", "image/jpeg"}};
    graphql(alice,
            std::string("mutation A($id: ID!, $image: S3ObjectInput!) { ") + field +
                "(id: $id, image: $image) { id } }",
            {{"id", id}, {"image", image}});
  }
  ASSERT_TRUE(waitFor([&] {
    for (const auto& event : aliceUpdated.events) {
      if (event["id"] == id && event["status"] == "completed") return true;
    }
    return false;
  })) << emulator_->log();

  graphql(alice,
          "mutation D($input: DeleteBodysizeEstimationInput!) { "
          "deleteBodysizeEstimation(input: $input) { id } }",
          {{"input", {{"id", id}}}});
  ASSERT_TRUE(waitFor([&] { return !aliceDeleted.events.empty(); }));
  EXPECT_EQ(aliceDeleted.events.back()["id"], id);

  // Bob heard nothing of Alice's request.
  queue_->runFor(300ms);
  for (const auto& event : bobCreated.events) EXPECT_NE(event["id"], id);
  EXPECT_TRUE(aliceCreated.errors.empty());

  // A subscription for someone else's identity is refused.
  Received spying;
  auto spy = subscribe(*bobClient, 0, alice.identityId, spying);
  ASSERT_TRUE(waitFor([&] { return !spying.errors.empty(); }));
  EXPECT_TRUE(spying.events.empty());
}

TEST_F(RealtimeIntegrationTest, DroppedConnectionIsReopenedAndEventsKeepComing) {
  auto carol = signIn("realtime-carol");
  ASSERT_FALSE(carol.credentials.accessKeyId.empty()) << emulator_->log();
  auto carolClient = client(carol);
  Received created;
  auto watcher = subscribe(*carolClient, 0, carol.identityId, created);
  awaitStarted(carol, created);

  auto drop =
      plainRequest("POST", emulator_->endpoint("base") + "/_control/drop-realtime-connections",
                   {"Content-Type: application/json"}, "");
  ASSERT_EQ(drop.status, 204) << drop.body;
  created.events.clear();
  awaitStarted(carol, created);  // resumes without a new subscribe

  // After cancel nothing more arrives.
  watcher->cancel();
  created.events.clear();
  create(carol);
  queue_->runFor(500ms);
  EXPECT_TRUE(created.events.empty());
}

// The last subscriber leaving while the upgrade is still unanswered ends the
// connection (a close frame cannot be sent before the handshake is done).
TEST_F(RealtimeIntegrationTest, LeavingDuringAStalledUpgradeEndsTheConnection) {
  auto dave = signIn("realtime-dave");
  ASSERT_FALSE(dave.credentials.accessKeyId.empty()) << emulator_->log();
  FaultControl faults(emulator_->endpoint("base"));
  faults.inject({{"route", "realtime"}, {"action", "stall"}, {"times", "always"}});
  auto daveClient = client(dave);
  Received created;
  auto watcher = subscribe(*daveClient, 0, dave.identityId, created);
  ASSERT_TRUE(waitFor([&] { return faults.fired() > 0; }));
  watcher->cancel();
  queue_->runFor(300ms);
  daveClient.reset();
  faults.clear();
  EXPECT_TRUE(created.errors.empty()) << created.errors.front();
}

}  // namespace
}  // namespace corvenza::test
