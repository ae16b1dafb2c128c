// Reading one request.

#include <corvenza/console.h>

#include "core/time_format.h"
#include "model/estimation_request_builder.h"
#include "requests/answer_step.h"
#include "requests/operation_guard.h"
#include "requests/request_support.h"
#include "requests/typed_graphql.h"

namespace corvenza {

namespace requests {

std::shared_ptr<http::Cancellable> readEstimationRequest(GraphQLGateway& client,
                                                         appsync::CachePolicy policy,
                                                         const std::string& id,
                                                         RequestCallback callback) {
  using Query = graphql::GetBodysizeEstimationQuery;
  auto handler = [id, callback = std::move(callback)](
                     std::optional<requests::TypedResult<Query::Data>> result,
                     std::optional<Error> error) {
    consoleLine("[SPEED_TEST]:retServe:" + detail::getNow() + "[" + id + "]");
    // The service answers null for an id this user does not have; say so to
    // programs, keeping the code.
    const AnswerRules rules{
        CorvenzaEnterprise::unknownError(),
        CorvenzaError(CorvenzaErrorReason::unexpectedError,
                      UserInfo{{error_info::kReason, "notFound"}, {error_info::kRequestId, id}})};
    answerFromResult(
        std::move(result), std::move(error), rules,
        [](const Query::Data& data) { return data.getBodysizeEstimation(); },
        [&callback](auto root, std::optional<Errors> errors) {
          if (!callback) return;
          callback(
              root ? model::makeEstimationRequest(root->fragments().bodysizeEstimation()) : nullptr,
              std::move(errors));
        });
  };
  return requests::fetchTyped<Query>(client, Query(id), policy, CorvenzaEnterprise::mainQueue(),
                                     std::move(handler));
}

}  // namespace requests

void CorvenzaEnterprise::getEstimationRequest(const std::string& id, RequestCallback callback) {
  shared().getEstimationRequest(id, std::move(callback));
}

void CorvenzaEnterprise::Instance::getEstimationRequest(const std::string& id,
                                                        RequestCallback callback) {
  auto client = requests::graphQLClient(*impl_);
  if (!client) {
    requests::callBackWithErrors(std::move(callback), {requests::notInitializedError()});
    return;
  }
  auto guard = requests::guardOperation(*impl_, [callback] {
    if (callback) callback(nullptr, Errors{requests::timeOutError()});
  });
  guard->attach(requests::readEstimationRequest(
      *client, requests::readCachePolicy(*impl_), id,
      [guard, callback](std::shared_ptr<EstimationRequest> record, std::optional<Errors> errors) {
        if (guard->settle() && callback) callback(std::move(record), std::move(errors));
      }));
}

}  // namespace corvenza
