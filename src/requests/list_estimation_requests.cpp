// Listing requests page by page.

#include <corvenza/console.h>

#include "model/estimation_request_builder.h"
#include "requests/answer_step.h"
#include "requests/operation_guard.h"
#include "requests/operations.h"
#include "requests/request_support.h"
#include "requests/typed_graphql.h"

namespace corvenza::requests {

void listEstimationRequests(const StatePtr& state, std::optional<int> limit,
                            std::optional<std::string> nextToken, ListCallback callback) {
  auto client = graphQLClient(*state);
  if (!client) {
    state->queue()->async([callback = std::move(callback)] {
      if (callback) callback(std::nullopt, std::nullopt, Errors{requests::notInitializedError()});
    });
    return;
  }
  using Query = graphql::ListBodysizeEstimationsQuery;
  auto guard = requests::guardOperation(*state, [callback] {
    if (callback) callback(std::nullopt, std::nullopt, Errors{requests::timeOutError()});
  });
  auto handler = [guard, links = downloadLinks(*state), callback = std::move(callback)](
                     std::optional<requests::TypedResult<Query::Data>> result,
                     std::optional<Error> error) {
    if (!guard->settle()) return;
    const requests::AnswerRules rules{CorvenzaError(CorvenzaErrorReason::unexpectedError),
                                      CorvenzaError(CorvenzaErrorReason::unexpectedError),
                                      requests::AnswerRules::Hop::never, nullptr};
    requests::answerFromResult(
        std::move(result), std::move(error), rules,
        [](const Query::Data& data) {
          // A connection without its item list is no answer.
          auto connection = data.listBodysizeEstimations();
          if (connection && !connection->items()) connection.reset();
          return connection;
        },
        [&callback, &links](auto connection, std::optional<Errors> errors) {
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
              records.push_back(model::makeEstimationRequest(
                  item->fragments().bodysizeEstimationIndexOutput(), links));
            }
          }
          callback(std::move(records), connection->nextToken(), std::nullopt);
        });
  };
  std::optional<std::int64_t> pageSize;
  if (limit) pageSize = *limit;
  guard->attach(requests::fetchTyped<Query>(
      *client, Query(std::nullopt, pageSize, std::move(nextToken)),
      requests::readCachePolicy(*state), state->queue(), std::move(handler)));
}

}  // namespace corvenza::requests
