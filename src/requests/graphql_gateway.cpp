#include "requests/graphql_gateway.h"

#include "platform/appsync/graphql_client.h"

namespace corvenza::requests {

namespace {

class ClientGateway final : public GraphQLGateway {
 public:
  explicit ClientGateway(std::shared_ptr<appsync::GraphQLClient> client)
      : client_(std::move(client)) {}

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

 private:
  std::shared_ptr<appsync::GraphQLClient> client_;
};

}  // namespace

std::shared_ptr<GraphQLGateway> makeClientGateway(std::shared_ptr<appsync::GraphQLClient> client) {
  return std::make_shared<ClientGateway>(std::move(client));
}

}  // namespace corvenza::requests
