#include "auth/developer_identity_provider.h"
#include "requests_fixture.h"

namespace corvenza::test {
namespace {

using Json = nlohmann::json;

class FixedTokenProvider final : public CorvenzaTokenProvider {
 public:
  std::optional<CorvenzaToken> token() const override { return token_; }
  void setToken(std::optional<CorvenzaToken> token) override { token_ = std::move(token); }

 private:
  std::optional<CorvenzaToken> token_;
};

/// Every call a listener received, in order.
struct Listener {
  std::vector<std::pair<std::shared_ptr<EstimationRequest>, std::optional<Errors>>> calls;

  RequestCallback callback() {
    return [this](std::shared_ptr<EstimationRequest> r, std::optional<Errors> e) {
      calls.emplace_back(std::move(r), std::move(e));
    };
  }
  int firstErrorCode() const { return calls.at(0).second.value().at(0).code(); }
};

class SubscriptionsTest : public RequestsTest {
 protected:
  void SetUp() override {
    RequestsTest::SetUp();
    auto& impl = CorvenzaEnterprise::shared().impl();
    bridge_ = std::make_shared<auth::DeveloperAuthenticatedIdentityProvider>(AWSRegionType::USEast1,
                                                                             "pool", true);
    changeServices(impl,
                   [this](requests::ClientServices& s) { s.developerIdentityProvider = bridge_; });
  }
  void TearDown() override {
    CorvenzaEnterprise::shared().unsubscribeAll();
    RequestsTest::TearDown();
  }

  void signIn(const std::string& identityId = "us-east-1:identity-7") {
    auto provider = std::make_shared<FixedTokenProvider>();
    provider->setToken(CorvenzaToken("jwt", identityId));
    bridge_->setTokenProvider(provider);
  }

  static Json event(const char* root, const std::string& id, const std::string& status) {
    return {
        {"data", {{root, {{"__typename", "BodysizeEstimation"}, {"id", id}, {"status", status}}}}}};
  }

  CorvenzaEnterprise::Instance& facade() { return CorvenzaEnterprise::shared(); }

  std::shared_ptr<auth::DeveloperAuthenticatedIdentityProvider> bridge_;
};

TEST_F(SubscriptionsTest, UpdateEventReachesEveryNameAsOneIdAndStatusRecord) {
  signIn();
  Listener a, b;
  facade().subscribeUpdateOfEstimationRequests(a.callback(), "a");
  facade().subscribeUpdateOfEstimationRequests(b.callback(), "b");
  ASSERT_EQ(gateway_->subscriptionCount(), 1u);  // one live subscription per kind
  auto sub = gateway_->subscription(0);
  EXPECT_NE(sub.request.query.find("onUpdateBodysizeEstimation"), std::string::npos);
  EXPECT_EQ(*sub.request.variables, (Json{{"userId", "us-east-1:identity-7"}}));

  gateway_->pushJson(0, event("onUpdateBodysizeEstimation", "req-1", "completed"));
  drain();
  ASSERT_EQ(a.calls.size(), 1u);
  ASSERT_EQ(b.calls.size(), 1u);
  auto record = a.calls[0].first;
  ASSERT_TRUE(record);
  EXPECT_EQ(record, b.calls[0].first);
  EXPECT_FALSE(a.calls[0].second);
  EXPECT_EQ(record->id, "req-1");
  EXPECT_EQ(record->status, BodysizeEstimationStatus::completed());
  EXPECT_FALSE(record->result);
  EXPECT_FALSE(record->height);
  EXPECT_FALSE(record->createdAt);
}

TEST_F(SubscriptionsTest, SubscribingAgainUnderOneNameReplacesTheListener) {
  signIn();
  Listener first, second;
  facade().subscribeCreationOfEstimationRequests(first.callback(), "x");
  facade().subscribeCreationOfEstimationRequests(second.callback(), "x");
  ASSERT_EQ(gateway_->subscriptionCount(), 1u);
  gateway_->pushJson(0, event("onCreateBodysizeEstimation", "req-2", "requested"));
  drain();
  EXPECT_TRUE(first.calls.empty());
  ASSERT_EQ(second.calls.size(), 1u);
  EXPECT_EQ(second.calls[0].first->id, "req-2");
}

TEST_F(SubscriptionsTest, WithoutTokenCreationAndUpdateAreNotSignedInDeletionUnexpected) {
  Listener create, update, remove;
  facade().subscribeCreationOfEstimationRequests(create.callback(), "n");
  facade().subscribeUpdateOfEstimationRequests(update.callback(), "n");
  facade().subscribeDeletionOfEstimationRequesets(remove.callback(), "n");
  // Reported synchronously, before the queue runs.
  ASSERT_EQ(create.calls.size(), 1u);
  ASSERT_EQ(update.calls.size(), 1u);
  ASSERT_EQ(remove.calls.size(), 1u);
  EXPECT_EQ(create.firstErrorCode(), CorvenzaError::codeFor(CorvenzaErrorReason::notSignedIn));
  EXPECT_EQ(update.firstErrorCode(), CorvenzaError::codeFor(CorvenzaErrorReason::notSignedIn));
  EXPECT_EQ(remove.firstErrorCode(), CorvenzaError::codeFor(CorvenzaErrorReason::unexpectedError));
  EXPECT_EQ(gateway_->subscriptionCount(), 0u);

  // The failed listener stays registered: a later start delivers to it too.
  signIn();
  Listener later;
  facade().subscribeCreationOfEstimationRequests(later.callback(), "later");
  ASSERT_EQ(gateway_->subscriptionCount(), 1u);
  gateway_->pushJson(0, event("onCreateBodysizeEstimation", "req-3", "requested"));
  drain();
  EXPECT_EQ(create.calls.size(), 2u);
  EXPECT_EQ(later.calls.size(), 1u);
}

TEST_F(SubscriptionsTest, ClassLevelSubscribeBeforeStartUpReportsNotSignedIn) {
  changeServices(CorvenzaEnterprise::shared().impl(),
                 [](requests::ClientServices& s) { s.developerIdentityProvider = nullptr; });
  Listener listener;
  CorvenzaEnterprise::subscribeCreationOfEstimationRequests(listener.callback(), "app");
  ASSERT_EQ(listener.calls.size(), 1u);
  EXPECT_EQ(listener.firstErrorCode(), CorvenzaError::codeFor(CorvenzaErrorReason::notSignedIn));
  EXPECT_EQ(facade().impl().session().listeners(EstimationEventKind::creation).size(), 1u);
}

TEST_F(SubscriptionsTest, MissingClientOrRefusedSubscribeReportsToTheCallerOnly) {
  signIn();
  Listener bystander;
  useGateway(facade().impl(), nullptr);
  Listener noClient;
  facade().subscribeUpdateOfEstimationRequests(noClient.callback(), "n");
  ASSERT_EQ(noClient.calls.size(), 1u);
  EXPECT_FALSE(noClient.calls[0].first);

  useGateway(facade().impl(), gateway_);
  gateway_->failSubscriptions(Error("Refused", 42, std::nullopt, "no socket"));
  facade().subscribeDeletionOfEstimationRequesets(bystander.callback(), "other");
  ASSERT_EQ(bystander.calls.size(), 1u);
  EXPECT_EQ(bystander.firstErrorCode(), 42);
  EXPECT_FALSE(facade().impl().session().isRunning(EstimationEventKind::deletion));

  // Nothing was stored, so the next subscribe tries again.
  gateway_->failSubscriptions(std::nullopt);
  facade().subscribeDeletionOfEstimationRequesets(bystander.callback(), "other");
  EXPECT_EQ(gateway_->subscriptionCount(), 1u);
}

TEST_F(SubscriptionsTest, LastNameToGoCancelsTheSubscription) {
  signIn();
  facade().unsubscribeUpdationOfEstimationRequests("never");  // harmless on an empty map
  EXPECT_FALSE(facade().impl().session().isRunning(EstimationEventKind::update));

  Listener a, b;
  facade().subscribeUpdateOfEstimationRequests(a.callback(), "a");
  facade().subscribeUpdateOfEstimationRequests(b.callback());  // "default"
  CorvenzaEnterprise::unsubscribeUpdationOfEstimationRequests("a");
  EXPECT_FALSE(gateway_->subscriptionCancelled(0));
  gateway_->pushJson(0, event("onUpdateBodysizeEstimation", "req-4", "processing"));
  drain();
  EXPECT_TRUE(a.calls.empty());
  EXPECT_EQ(b.calls.size(), 1u);

  facade().unsubscribeUpdationOfEstimationRequests();
  EXPECT_TRUE(gateway_->subscriptionCancelled(0));
  EXPECT_FALSE(facade().impl().session().isRunning(EstimationEventKind::update));
}

TEST_F(SubscriptionsTest, UnsubscribeByNameLeavesOtherKindsWithListenersRunning) {
  signIn();
  Listener n, other;
  facade().subscribeCreationOfEstimationRequests(n.callback(), "n");
  facade().subscribeCreationOfEstimationRequests(other.callback(), "other");
  facade().subscribeUpdateOfEstimationRequests(n.callback(), "n");
  facade().subscribeDeletionOfEstimationRequesets(n.callback(), "n");
  ASSERT_EQ(gateway_->subscriptionCount(), 3u);

  CorvenzaEnterprise::unsubscribeEstimationRequests("n");
  EXPECT_FALSE(gateway_->subscriptionCancelled(0));
  EXPECT_TRUE(gateway_->subscriptionCancelled(1));
  EXPECT_TRUE(gateway_->subscriptionCancelled(2));
  auto& impl = facade().impl();
  EXPECT_EQ(impl.session().listeners(EstimationEventKind::creation).size(), 1u);
  EXPECT_TRUE(impl.session().listeners(EstimationEventKind::update).empty());
  EXPECT_TRUE(impl.session().listeners(EstimationEventKind::deletion).empty());
}

TEST_F(SubscriptionsTest, UnsubscribeAllThenSubscribeStartsAFreshSubscription) {
  signIn();
  Listener old, fresh;
  facade().subscribeDeletionOfEstimationRequesets(old.callback(), "n");
  facade().subscribeCreationOfEstimationRequests(old.callback(), "n");
  CorvenzaEnterprise::unsubscribeAll();
  EXPECT_TRUE(gateway_->subscriptionCancelled(0));
  EXPECT_TRUE(gateway_->subscriptionCancelled(1));

  facade().subscribeDeletionOfEstimationRequesets(fresh.callback(), "n");
  ASSERT_EQ(gateway_->subscriptionCount(), 3u);
  gateway_->pushJson(0, event("onDeleteBodysizeEstimation", "gone", "requested"));
  gateway_->pushJson(2, event("onDeleteBodysizeEstimation", "req-5", "requested"));
  drain();
  EXPECT_TRUE(old.calls.empty());
  ASSERT_EQ(fresh.calls.size(), 1u);
  EXPECT_EQ(fresh.calls[0].first->id, "req-5");
}

TEST_F(SubscriptionsTest, FailuresOnARunningSubscriptionReachEveryListener) {
  signIn();
  Listener a, b;
  facade().subscribeUpdateOfEstimationRequests(a.callback(), "a");
  facade().subscribeUpdateOfEstimationRequests(b.callback(), "b");

  gateway_->pushEvent(0, std::nullopt, Error("Socket", 7, std::nullopt, "connection lost"));
  gateway_->pushJson(0, {{"errors", Json::array({{{"message", "one"}}, {{"message", "two"}}})}});
  gateway_->pushJson(0, {{"errors", Json::array()}});
  gateway_->pushEvent(0, appsync::GraphQLResult{});  // neither data, error nor errors
  drain();
  for (auto* listener : {&a, &b}) {
    ASSERT_EQ(listener->calls.size(), 4u);
    for (const auto& [record, errors] : listener->calls) {
      EXPECT_FALSE(record);
      ASSERT_TRUE(errors);
    }
    EXPECT_EQ(listener->calls[0].second->at(0).code(), 7);
    EXPECT_EQ(listener->calls[1].second->size(), 2u);
    EXPECT_TRUE(listener->calls[2].second->empty());
    EXPECT_EQ(listener->calls[3].second->at(0).code(),
              CorvenzaError::codeFor(CorvenzaErrorReason::unexpectedError));
  }
  EXPECT_TRUE(console_.contains("connection lost"));
  EXPECT_FALSE(gateway_->subscriptionCancelled(0));  // errors do not end the subscription
}

}  // namespace
}  // namespace corvenza::test

namespace corvenza::test {
namespace {

class StartRecorder final : public CorvenzaEnterpriseDelegate {
 public:
  void estimationProgressDidChange(EstimationProgressType) override {}
  void estimationSubscriptionDidStart(EstimationEventKind kind) override {
    started.push_back(kind);
  }
  std::vector<EstimationEventKind> started;
};

TEST_F(SubscriptionsTest, TheDelegateHearsWhenEachKindIsLive) {
  signIn();
  auto recorder = std::make_shared<StartRecorder>();
  facade().setDelegate(recorder);
  Listener listener;
  facade().subscribeCreationOfEstimationRequests(listener.callback(), "w");
  facade().subscribeDeletionOfEstimationRequesets(listener.callback(), "w");
  drain();
  EXPECT_TRUE(recorder->started.empty());  // asked for, not yet live
  gateway_->acknowledge(1);
  gateway_->acknowledge(0);
  drain();
  EXPECT_EQ(recorder->started, (std::vector<EstimationEventKind>{EstimationEventKind::deletion,
                                                                 EstimationEventKind::creation}));
  // Once cancelled, a late acknowledgement is not told.
  facade().unsubscribeAll();
  gateway_->acknowledge(0);
  drain();
  EXPECT_EQ(recorder->started.size(), 2u);
  EXPECT_TRUE(listener.calls.empty());
}

}  // namespace
}  // namespace corvenza::test
