#include "requests/graphql_gateway.h"

#include "platform/appsync/graphql_client.h"
#include "platform/appsync/realtime/realtime_client.h"

namespace corvenza::requests {

detail::Result<std::shared_ptr<appsync::SubscriptionWatcher>> GraphQLGateway::subscribe(
    appsync::GraphQLRequest, std::shared_ptr<MainQueue>, appsync::SubscriptionHandler,
    appsync::SubscriptionStarted) {
  return Error(CorvenzaError(CorvenzaErrorReason::unexpectedError,
                             UserInfo{{"detail", "subscriptions are not available"}}));
}

namespace {

class ClientGateway final : public GraphQLGateway {
 public:
  ClientGateway(std::shared_ptr<appsync::GraphQLClient> client,
                std::shared_ptr<appsync::RealtimeClient> realtime)
      : client_(std::move(client)), realtime_(std::move(realtime)) {}

  std::shared_ptr<http::Cancellable> fetch(appsync::GraphQLRequest request,
                                           appsync::CachePolicy cachePolicy,
                                           std::shared_ptr<MainQueue> queue,
                                           appsync::ResultHandler handler) override {
    return client_->fetch(std::move(request), cachePolicy, std::move(queue), std::move(handler));
  }

  std::shared_ptr<http::Cancellable> perform(appsync::GraphQLRequest request,
                                             std::shared_ptr<MainQueue> queue,
                                             appsync::ResultHandler handler) override {
    return client_->perform(std::move(request), std::move(queue), std::move(handler));
  }

  detail::Result<std::shared_ptr<appsync::SubscriptionWatcher>> subscribe(
      appsync::GraphQLRequest request, std::shared_ptr<MainQueue> queue,
      appsync::SubscriptionHandler handler, appsync::SubscriptionStarted started) override {
    if (!realtime_) {
      return GraphQLGateway::subscribe(std::move(request), std::move(queue), std::move(handler));
    }
    return realtime_->subscribe(std::move(request), std::move(queue), std::move(handler),
                                std::move(started));
  }

  void clearCache() override { (void)client_->clearCache(); }

 private:
  std::shared_ptr<appsync::GraphQLClient> client_;
  std::shared_ptr<appsync::RealtimeClient> realtime_;
};

}  // namespace

std::shared_ptr<GraphQLGateway> makeClientGateway(
    std::shared_ptr<appsync::GraphQLClient> client,
    std::shared_ptr<appsync::RealtimeClient> realtime) {
  return std::make_shared<ClientGateway>(std::move(client), std::move(realtime));
}

}  // namespace corvenza::requests
