#pragma once
// A facade wired to a fake GraphQL client and a caller-driven main queue.

#include <corvenza/enterprise.h>
#include <gtest/gtest.h>

#include <chrono>
#include <nlohmann/json.hpp>

#include "requests/client_state.h"
#include "testkit/client_services.h"
#include "testkit/console_capture.h"
#include "testkit/fake_graphql_gateway.h"

namespace corvenza::test {

class FixedReachability final : public device::Reachability {
 public:
  explicit FixedReachability(device::Connection c) : connection_(c) {}
  device::Connection connection() const override { return connection_; }

 private:
  device::Connection connection_;
};

class RequestsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    detail::resetSharedInstanceForTesting();
    queue_ = MainQueue::callerDriven();
    CorvenzaEnterprise::setMainQueue(queue_);
    gateway_ = std::make_shared<FakeGraphQLGateway>();
    auto& impl = CorvenzaEnterprise::shared().impl();
    changeServices(impl, [this](requests::ClientServices& services) {
      services.appSyncClient = gateway_;
      services.reachabilityFactory = [this] {
        return std::make_unique<FixedReachability>(online_);
      };
    });
  }
  void TearDown() override {
    gateway_->forget();
    CorvenzaEnterprise::setMainQueue(nullptr);
    detail::resetSharedInstanceForTesting();
  }

  void drain() { queue_->runPending(); }

  /// A full estimation object with every non-null field.
  static nlohmann::json fullObject(const std::string& id, const std::string& status) {
    return {{"__typename", "BodysizeEstimation"},
            {"id", id},
            {"userId", "user-1"},
            {"createdAt", 86400},
            {"status", status},
            {"gender", "female"},
            {"age", 35},
            {"height", 170.5},
            {"weight", 62.25}};
  }
  static nlohmann::json minimumObject(const std::string& id) {
    return {{"__typename", "BodysizeEstimation"},
            {"id", id},
            {"createdAt", 100},
            {"status", "requested"},
            {"weight", 62.25},
            {"height", 170.5},
            {"age", 35},
            {"gender", nullptr},
            {"userId", "user-1"},
            {"failOnAutomaticEstimationFailure", true}};
  }

  std::shared_ptr<MainQueue> queue_;
  std::shared_ptr<FakeGraphQLGateway> gateway_;
  device::Connection online_ = device::Connection::wifi;
  ConsoleCapture console_;
};

/// What a request callback received.
struct Outcome {
  int calls = 0;
  std::shared_ptr<EstimationRequest> record;
  std::optional<Errors> errors;

  RequestCallback callback() {
    return [this](std::shared_ptr<EstimationRequest> r, std::optional<Errors> e) {
      ++calls;
      record = std::move(r);
      errors = std::move(e);
    };
  }
};

}  // namespace corvenza::test
