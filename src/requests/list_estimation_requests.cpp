// Listing requests page by page.

#include <corvenza/console.h>

#include "model/estimation_request_builder.h"
#include "requests/answer_step.h"
#include "requests/operation_guard.h"
#include "requests/request_support.h"
#include "requests/typed_graphql.h"

namespace corvenza {

void CorvenzaEnterprise::listEstimationRequests(std::optional<int> limit,
                                                std::optional<std::string> nextToken,
                                                ListCallback callback) {
  shared().listEstimationRequests(limit, std::move(nextToken), std::move(callback));
}

void CorvenzaEnterprise::Instance::listEstimationRequests(std::optional<int> limit,
                                                          std::optional<std::string> nextToken,
                                                          ListCallback callback) {
  auto client = requests::graphQLClient(*impl_);
  if (!client) {
    CorvenzaEnterprise::mainQueue()->async([callback = std::move(callback)] {
      if (callback) callback(std::nullopt, std::nullopt, Errors{requests::notInitializedError()});
    });
    return;
  }
  using Query = graphql::ListBodysizeEstimationsQuery;
  auto guard = requests::guardOperation(*impl_, [callback] {
    if (callback) callback(std::nullopt, std::nullopt, Errors{requests::timeOutError()});
  });
  auto handler = [guard, callback = std::move(callback)](
                     std::optional<requests::TypedResult<Query::Data>> result,
                     std::optional<Error> error) {
    if (!guard->settle()) return;
    const requests::AnswerRules rules{CorvenzaEnterprise::unknownError(),
                                      CorvenzaEnterprise::unknownError()};
    requests::answerFromResult(
        std::move(result), std::move(error), rules,
        [](const Query::Data& data) {
          // A connection without its item list is no answer.
          auto connection = data.listBodysizeEstimations();
          if (connection && !connection->items()) connection.reset();
          return connection;
        },
        [&callback](auto connection, std::optional<Errors> errors) {
          if (!callback) return;
          if (!connection) {
            callback(std::nullopt, std::nullopt, std::move(errors));
            return;
          }
          std::vector<std::shared_ptr<EstimationRequest>> records;
          const auto items = connection->items();
          records.reserve(items->size());
          for (const auto& item : *items) {
            if (item) {
              records.push_back(
                  model::makeEstimationRequest(item->fragments().bodysizeEstimationIndexOutput()));
            }
          }
          callback(std::move(records), connection->nextToken(), std::nullopt);
        });
  };
  std::optional<std::int64_t> pageSize;
  if (limit) pageSize = *limit;
  guard->attach(requests::fetchTyped<Query>(
      *client, Query(std::nullopt, pageSize, std::move(nextToken)),
      requests::readCachePolicy(*impl_), CorvenzaEnterprise::mainQueue(), std::move(handler)));
}

}  // namespace corvenza
