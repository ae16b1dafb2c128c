#include <corvenza/estimation_client.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "requests/client_state.h"
#include "testkit/client_services.h"
#include "testkit/console_capture.h"
#include "testkit/fake_clock.h"
#include "testkit/fake_graphql_gateway.h"
#include "testkit/fake_http_transport.h"
#include "testkit/temp_dir.h"

namespace corvenza::test {
namespace {

using Json = nlohmann::json;

class FixedTokenProvider final : public CorvenzaTokenProvider {
 public:
  explicit FixedTokenProvider(std::string identityId)
      : token_(CorvenzaToken("jwt-" + identityId, identityId)) {}
  std::optional<CorvenzaToken> token() const override { return token_; }
  void setToken(std::optional<CorvenzaToken> token) override { token_ = std::move(token); }

 private:
  std::optional<CorvenzaToken> token_;
};

class Progress final : public CorvenzaEnterpriseDelegate {
 public:
  void estimationProgressDidChange(EstimationProgressType progress) override {
    seen.push_back(progress);
  }
  std::vector<EstimationProgressType> seen;
};

CorvenzaConfig loopbackConfig() {
  return CorvenzaConfig("http://127.0.0.1:9/graphql", "ap-northeast-1", "photos", "ap-northeast-1",
                        "ap-northeast-1:pool", "ap-northeast-1", "key-1");
}

class EstimationClientTest : public ::testing::Test {
 protected:
  std::shared_ptr<EstimationClient> makeClient(const std::string& identityId) {
    EstimationClientOptions options;
    options.configuration = loopbackConfig();
    options.tokenProvider = std::make_shared<FixedTokenProvider>(identityId);
    options.mainQueue = queue_;
    options.transport = transport_;
    return EstimationClient::create(std::move(options));
  }
  // Swaps the client's GraphQL client for a fake that tests answer by hand.
  static std::shared_ptr<FakeGraphQLGateway> fakeGateway(EstimationClient& client) {
    auto gateway = std::make_shared<FakeGraphQLGateway>();
    useGateway(client.state(), gateway);
    return gateway;
  }
  void TearDown() override { transport_->forgetUnanswered(); }

  std::shared_ptr<test::FakeClock> clock_ = std::make_shared<test::FakeClock>();
  std::shared_ptr<MainQueue> queue_ = MainQueue::callerDriven(clock_);
  std::shared_ptr<FakeHttpTransport> transport_ = FakeHttpTransport::create();
  ConsoleCapture console_;
};

TEST_F(EstimationClientTest, CreateRefusesWhatItCannotStartFromAndSendsNothing) {
  EstimationClientOptions noProvider;
  noProvider.configuration = loopbackConfig();
  noProvider.transport = transport_;
  try {
    EstimationClient::create(noProvider);
    ADD_FAILURE() << "a client without a token provider was made";
  } catch (const CorvenzaException& e) {
    EXPECT_EQ(e.error().code(), 2000);
  }

  TempDir folder;
  EstimationClientOptions fromFolder;
  fromFolder.tokenProvider = std::make_shared<FixedTokenProvider>("id-a");
  fromFolder.configurationDirectory = folder.path();
  fromFolder.transport = transport_;
  try {
    EstimationClient::create(fromFolder);
    ADD_FAILURE() << "a client without a configuration was made";
  } catch (const CorvenzaException& e) {
    EXPECT_EQ(e.error().code(), 1997);
  }
  std::ofstream(folder.path() / "corvenza-config.json") << R"({"graph_ql_endpoint": 1})";
  try {
    EstimationClient::create(fromFolder);
    ADD_FAILURE() << "a client with a malformed configuration was made";
  } catch (const CorvenzaException& e) {
    EXPECT_EQ(e.error().code(), 1997);
    ASSERT_TRUE(e.error().userInfo());
    EXPECT_EQ(e.error().userInfo()->count("detail"), 1u);
  }
  EXPECT_TRUE(transport_->requests().empty());
}

TEST_F(EstimationClientTest, ProgressAndAnswersStayWithTheClientThatCreated) {
  auto alice = makeClient("id-alice");
  auto bob = makeClient("id-bob");
  auto aliceGateway = fakeGateway(*alice);
  auto bobGateway = fakeGateway(*bob);
  auto aliceProgress = std::make_shared<Progress>();
  auto bobProgress = std::make_shared<Progress>();
  alice->setDelegate(aliceProgress);
  bob->setDelegate(bobProgress);

  EstimationParameter parameter;
  parameter.heightInCm = 170;
  parameter.weightInKg = 60;
  parameter.age = 30;
  parameter.frontImage = Image::fromPixels(2, 2, std::vector<std::uint8_t>(12, 80));
  parameter.sideImage = parameter.frontImage;
  alice->createEstimationRequest(parameter);
  queue_->runPending();
  ASSERT_EQ(aliceGateway->callCount(), 1u);
  EXPECT_EQ(bobGateway->callCount(), 0u);

  aliceGateway->answerJson(0, {{"data",
                                {{"createBodysizeEstimation",
                                  {{"__typename", "BodysizeEstimation"},
                                   {"id", "r-alice"},
                                   {"createdAt", 1},
                                   {"status", "requested"},
                                   {"weight", 60},
                                   {"height", 170},
                                   {"age", 30},
                                   {"gender", nullptr},
                                   {"userId", "u"},
                                   {"failOnAutomaticEstimationFailure", false}}}}}});
  queue_->runPending();
  EXPECT_EQ(alice->estimationProgress(), EstimationProgressType::setParameter);
  EXPECT_EQ(bob->estimationProgress(), EstimationProgressType::none);
  EXPECT_FALSE(aliceProgress->seen.empty());
  EXPECT_TRUE(bobProgress->seen.empty());
  EXPECT_EQ(bobGateway->callCount(), 0u);
  aliceGateway->forget();
  // The unanswered step times out, which ends the creation that holds alice.
  clock_->advance(std::chrono::minutes(1));
  queue_->runPending();
}

TEST_F(EstimationClientTest, ListenersHearOnlyTheirClientAndGoWithIt) {
  auto alice = makeClient("id-alice");
  auto bob = makeClient("id-bob");
  auto aliceGateway = fakeGateway(*alice);
  auto bobGateway = fakeGateway(*bob);
  std::vector<std::string> aliceHeard;
  std::vector<std::string> bobHeard;
  auto recordInto = [](std::vector<std::string>& heard) {
    return [&heard](std::shared_ptr<EstimationRequest> r, std::optional<Errors>) {
      heard.push_back(r && r->id ? *r->id : "error");
    };
  };
  alice->subscribe(EstimationEventKind::creation, recordInto(aliceHeard));
  bob->subscribe(EstimationEventKind::creation, recordInto(bobHeard));
  ASSERT_EQ(aliceGateway->subscriptionCount(), 1u);
  ASSERT_EQ(bobGateway->subscriptionCount(), 1u);
  // Each subscribes for its own identity.
  EXPECT_NE(aliceGateway->subscription(0).request.variables.value().dump().find("id-alice"),
            std::string::npos);
  EXPECT_NE(bobGateway->subscription(0).request.variables.value().dump().find("id-bob"),
            std::string::npos);

  aliceGateway->pushJson(
      0, {{"data",
           {{"onCreateBodysizeEstimation",
             {{"__typename", "BodysizeEstimation"}, {"id", "r-a"}, {"status", "requested"}}}}}});
  queue_->runPending();
  EXPECT_EQ(aliceHeard, std::vector<std::string>{"r-a"});
  EXPECT_TRUE(bobHeard.empty());

  // Dropping a client ends its subscription and leaves the other's running.
  alice.reset();
  EXPECT_TRUE(aliceGateway->subscriptionCancelled(0));
  EXPECT_FALSE(bobGateway->subscriptionCancelled(0));
  bob->unsubscribeAll();
  EXPECT_TRUE(bobGateway->subscriptionCancelled(0));
}

TEST_F(EstimationClientTest, RequestsGoThroughTheTransportTheClientWasHanded) {
  // Without a fake GraphQL client the real one runs: its first step fetches
  // credentials, and that request must reach this client's transport.
  auto client = makeClient("id-alice");
  std::optional<Errors> errors;
  client->getEstimationRequest(
      "r-1", [&errors](auto, std::optional<Errors> e) { errors = e.value_or(Errors{}); });
  ASSERT_TRUE(transport_->waitForRequests(1, std::chrono::seconds(10)));
  EXPECT_NE(transport_->requests().front().body.find("id-alice"), std::string::npos);

  // The identity service refuses: the read ends with that error, on this client's queue.
  transport_->respond(400, R"({"__type":"NotAuthorizedException","message":"no"})");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!errors && std::chrono::steady_clock::now() < deadline) {
    transport_->deliver();
    queue_->runFor(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(errors);
  EXPECT_FALSE(errors->empty());
}

}  // namespace
}  // namespace corvenza::test
