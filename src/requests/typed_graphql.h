#pragma once
// Typed operations over the generic gateway: the request string and variables
// go out, the answer's data comes back decoded into the operation's Data.

#include <functional>
#include <optional>
#include <utility>

#include "graphql/operations.h"
#include "requests/graphql_gateway.h"

namespace corvenza::requests {

template <typename Data>
struct TypedResult {
  std::optional<Data> data;
  /// Present (possibly empty) exactly when the service sent an "errors" member.
  std::optional<Errors> errors;
};

template <typename Operation>
using TypedHandler =
    std::function<void(std::optional<TypedResult<typename Operation::Data>>, std::optional<Error>)>;

/// Where the GraphQL client uploads a photo input's file from: its local
/// file, or an empty path (which it refuses) when "localUri" names none.
appsync::S3UploadDescription uploadOf(const graphql::S3ObjectInput& image);

/// The operation as the GraphQL client takes it. An operation that carries a
/// photo hands its upload along, so that nothing has to find it again in the
/// variables.
template <typename Operation>
appsync::GraphQLRequest makeGraphQLRequest(const Operation& operation,
                                           appsync::UploadProgress progress = {}) {
  appsync::GraphQLRequest request{Operation::requestString(),
                                  graphql::variablesJson(operation.variables()), std::nullopt};
  request.harmlessTwice = Operation::harmlessTwice;
  if constexpr (requires { operation.image; }) {
    request.uploads.push_back(uploadOf(operation.image));
    request.uploadProgress = std::move(progress);
  }
  return request;
}

/// How much of an answer's data the handler needs.
enum class AnswerData { decoded, ignored };

/// Turns the generic answer into the typed one. Data that does not match the
/// operation's selection is reported as the handler's error, unless the
/// service sent errors of its own, which are then what the handler gets.
/// With AnswerData::ignored the data is never decoded (nor handed over).
template <typename Operation>
appsync::ResultHandler typedHandler(TypedHandler<Operation> handler,
                                    AnswerData use = AnswerData::decoded) {
  return [handler = std::move(handler), use](std::optional<appsync::GraphQLResult> result,
                                             std::optional<Error> error) {
    if (error || !result) {
      handler(std::nullopt, std::move(error));
      return;
    }
    TypedResult<typename Operation::Data> typed;
    typed.errors = std::move(result->errors);
    if (use == AnswerData::decoded && result->data && !result->data->is_null()) {
      auto decoded = Operation::decode(*result->data);
      if (decoded) {
        typed.data.emplace(std::move(decoded.value()));
      } else if (!typed.errors) {
        handler(std::nullopt, decoded.error());
        return;
      }
    }
    handler(std::move(typed), std::nullopt);
  };
}

template <typename Operation>
std::shared_ptr<http::Cancellable> fetchTyped(GraphQLGateway& gateway, const Operation& operation,
                                              appsync::CachePolicy policy,
                                              std::shared_ptr<MainQueue> queue,
                                              TypedHandler<Operation> handler) {
  return gateway.fetch(makeGraphQLRequest(operation), policy, std::move(queue),
                       typedHandler<Operation>(std::move(handler)));
}

template <typename Operation>
std::shared_ptr<http::Cancellable> performTyped(GraphQLGateway& gateway, const Operation& operation,
                                                std::shared_ptr<MainQueue> queue,
                                                TypedHandler<Operation> handler,
                                                AnswerData use = AnswerData::decoded,
                                                appsync::UploadProgress progress = {}) {
  return gateway.perform(makeGraphQLRequest(operation, std::move(progress)), std::move(queue),
                         typedHandler<Operation>(std::move(handler), use));
}

}  // namespace corvenza::requests
