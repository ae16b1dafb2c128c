// Reading one request.

#include <corvenza/console.h>

#include "core/time_format.h"
#include "model/estimation_request_builder.h"
#include "requests/answer_step.h"
#include "requests/operation_guard.h"
#include "requests/operations.h"
#include "requests/request_support.h"
#include "requests/typed_graphql.h"

namespace corvenza {

namespace requests {

std::shared_ptr<http::Cancellable> readEstimationRequest(
    GraphQLGateway& client, appsync::CachePolicy policy, std::shared_ptr<MainQueue> queue,
    const std::string& id, DownloadLinkMaker links, RequestCallback callback) {
  using Query = graphql::GetBodysizeEstimationQuery;
  auto handler = [id, links = std::move(links), callback = std::move(callback)](
                     std::optional<requests::TypedResult<Query::Data>> result,
                     std::optional<Error> error) {
    consoleLine("[SPEED_TEST]:retServe:" + detail::getNow() + "[" + id + "]");
    // The service answers null for an id this user does not have; say so to
    // programs, keeping the code.
    const AnswerRules rules{
        CorvenzaError(CorvenzaErrorReason::unexpectedError),
        CorvenzaError(CorvenzaErrorReason::unexpectedError,
                      UserInfo{{error_info::kReason, "notFound"}, {error_info::kRequestId, id}}),
        AnswerRules::Hop::never, nullptr};
    answerFromResult(
        std::move(result), std::move(error), rules,
        [](const Query::Data& data) { return data.getBodysizeEstimation(); },
        [&callback, &links](auto root, std::optional<Errors> errors) {
          if (!callback) return;
          callback(root
                       ? model::makeEstimationRequest(root->fragments().bodysizeEstimation(), links)
                       : nullptr,
                   std::move(errors));
        });
  };
  return requests::fetchTyped<Query>(client, Query(id), policy, std::move(queue),
                                     std::move(handler));
}

void getEstimationRequest(const StatePtr& state, const std::string& id, RequestCallback callback) {
  auto client = graphQLClient(*state);
  if (!client) {
    callBackWithErrors(state->queue(), std::move(callback), {notInitializedError()});
    return;
  }
  auto guard = guardOperation(*state, [callback] {
    if (callback) callback(nullptr, Errors{timeOutError()});
  });
  guard->attach(readEstimationRequest(
      *client, readCachePolicy(*state), state->queue(), id, downloadLinks(*state),
      [guard, callback](std::shared_ptr<EstimationRequest> record, std::optional<Errors> errors) {
        if (guard->settle() && callback) callback(std::move(record), std::move(errors));
      }));
}

}  // namespace requests

}  // namespace corvenza
