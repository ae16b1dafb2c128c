#pragma once
// A GraphQL gateway that records every call and answers only when told to.

#include <atomic>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

#include "requests/graphql_gateway.h"

namespace corvenza::test {

class FakeGraphQLGateway final : public requests::GraphQLGateway {
 public:
  struct Call {
    bool isMutation = false;
    appsync::GraphQLRequest request;
    std::optional<appsync::CachePolicy> cachePolicy;
    std::shared_ptr<MainQueue> queue;
    appsync::ResultHandler handler;
    std::shared_ptr<bool> cancelled = std::make_shared<bool>(false);
  };

  std::shared_ptr<http::Cancellable> fetch(appsync::GraphQLRequest request,
                                           appsync::CachePolicy cachePolicy,
                                           std::shared_ptr<MainQueue> queue,
                                           appsync::ResultHandler handler) override {
    return record(
        Call{false, std::move(request), cachePolicy, std::move(queue), std::move(handler)});
  }

  std::shared_ptr<http::Cancellable> perform(appsync::GraphQLRequest request,
                                             std::shared_ptr<MainQueue> queue,
                                             appsync::ResultHandler handler) override {
    return record(
        Call{true, std::move(request), std::nullopt, std::move(queue), std::move(handler)});
  }

  /// One subscribe call. Events pushed after cancel() never reach the handler.
  struct Subscription {
    appsync::GraphQLRequest request;
    std::shared_ptr<MainQueue> queue;
    appsync::SubscriptionHandler handler;
    appsync::SubscriptionStarted started;
    std::shared_ptr<std::atomic<bool>> cancelled = std::make_shared<std::atomic<bool>>(false);
  };

  detail::Result<std::shared_ptr<appsync::SubscriptionWatcher>> subscribe(
      appsync::GraphQLRequest request, std::shared_ptr<MainQueue> queue,
      appsync::SubscriptionHandler handler, appsync::SubscriptionStarted started) override {
    std::lock_guard lock(mutex_);
    if (subscribeFailure_) return *subscribeFailure_;
    subscriptions_.push_back(
        Subscription{std::move(request), std::move(queue), std::move(handler), std::move(started)});
    return std::shared_ptr<appsync::SubscriptionWatcher>(
        std::make_shared<Watcher>(subscriptions_.back().cancelled));
  }

  /// Makes every later subscribe fail with @p error (nothing: succeed again).
  void failSubscriptions(std::optional<Error> error) {
    std::lock_guard lock(mutex_);
    subscribeFailure_ = std::move(error);
  }
  std::size_t subscriptionCount() const {
    std::lock_guard lock(mutex_);
    return subscriptions_.size();
  }
  Subscription subscription(std::size_t index) const {
    std::lock_guard lock(mutex_);
    return subscriptions_.at(index);
  }
  bool subscriptionCancelled(std::size_t index) const { return *subscription(index).cancelled; }

  /// Queues a message of subscription @p index on its queue.
  void pushEvent(std::size_t index, std::optional<appsync::GraphQLResult> result,
                 std::optional<Error> error = std::nullopt) {
    Subscription s = subscription(index);
    s.queue->async([s, result = std::move(result), error = std::move(error)] {
      if (!*s.cancelled) s.handler(result, error);
    });
  }
  /// Queues the service's acknowledgement of subscription @p index.
  void acknowledge(std::size_t index) {
    Subscription s = subscription(index);
    s.queue->async([s] {
      if (!*s.cancelled && s.started) s.started();
    });
  }
  /// Queues a message made from the "data" and optional "errors" of @p body.
  void pushJson(std::size_t index, const nlohmann::json& body) {
    pushEvent(index, resultFromJson(body));
  }

  /// Drops every recorded call and subscription. Their handlers may hold the
  /// gateway itself (as the create chain does), so tests call this at the end
  /// to break that cycle.
  void clearCache() override { ++cacheClears; }
  /// How often the offline cache was emptied.
  std::atomic<int> cacheClears{0};

  void forget() {
    std::vector<Call> calls;
    std::vector<Subscription> subscriptions;
    {
      std::lock_guard lock(mutex_);
      calls.swap(calls_);
      subscriptions.swap(subscriptions_);
    }
  }

  std::size_t callCount() const {
    std::lock_guard lock(mutex_);
    return calls_.size();
  }
  Call call(std::size_t index) const {
    std::lock_guard lock(mutex_);
    return calls_.at(index);
  }
  bool wasCancelled(std::size_t index) const { return *call(index).cancelled; }

  /// Queues call @p index's handler on its queue with a result.
  void answer(std::size_t index, std::optional<appsync::GraphQLResult> result) {
    deliver(index, std::move(result), std::nullopt);
  }
  /// Queues call @p index's handler with the "data" and optional "errors" of @p body.
  void answerJson(std::size_t index, const nlohmann::json& body) {
    answer(index, resultFromJson(body));
  }
  static appsync::GraphQLResult resultFromJson(const nlohmann::json& body) {
    appsync::GraphQLResult result;
    if (body.contains("data") && !body["data"].is_null()) result.data = body["data"];
    if (body.contains("errors")) {
      result.errors = Errors{};
      for (const auto& e : body["errors"]) {
        result.errors->push_back(Error("GraphQLError", 0, std::nullopt, e.value("message", "")));
      }
    }
    return result;
  }
  /// Queues call @p index's handler with a transport error.
  void fail(std::size_t index, Error error) { deliver(index, std::nullopt, std::move(error)); }

 private:
  class Handle final : public http::Cancellable {
   public:
    explicit Handle(std::shared_ptr<bool> flag) : flag_(std::move(flag)) {}
    void cancel() override { *flag_ = true; }

   private:
    std::shared_ptr<bool> flag_;
  };

  class Watcher final : public appsync::SubscriptionWatcher {
   public:
    explicit Watcher(std::shared_ptr<std::atomic<bool>> flag) : flag_(std::move(flag)) {}
    void cancel() override { *flag_ = true; }

   private:
    std::shared_ptr<std::atomic<bool>> flag_;
  };

  std::shared_ptr<http::Cancellable> record(Call call) {
    auto handle = std::make_shared<Handle>(call.cancelled);
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
    return handle;
  }

  void deliver(std::size_t index, std::optional<appsync::GraphQLResult> result,
               std::optional<Error> error) {
    Call c = call(index);
    c.queue->async([handler = c.handler, result = std::move(result), error = std::move(error)] {
      handler(result, error);
    });
  }

  mutable std::mutex mutex_;
  std::vector<Call> calls_;
  std::vector<Subscription> subscriptions_;
  std::optional<Error> subscribeFailure_;
};

}  // namespace corvenza::test
