// Deleting a request.

#include <corvenza/console.h>

#include "model/estimation_request_builder.h"
#include "requests/answer_step.h"
#include "requests/operation_guard.h"
#include "requests/request_support.h"
#include "requests/typed_graphql.h"

namespace corvenza {

void CorvenzaEnterprise::deleteEstimationRequest(const std::string& id, RequestCallback callback) {
  shared().deleteEstimationRequest(id, std::move(callback));
}

void CorvenzaEnterprise::Instance::deleteEstimationRequest(const std::string& id,
                                                           RequestCallback callback) {
  auto client = requests::graphQLClient(*impl_);
  if (!client) {
    requests::callBackWithErrors(std::move(callback), {requests::notInitializedError()});
    return;
  }
  using Mutation = graphql::DeleteBodysizeEstimationMutation;
  graphql::DeleteBodysizeEstimationInput input(graphql::InputValue<std::int64_t>::notGiven(), id);
  auto guard = requests::guardOperation(*impl_, [callback] {
    if (callback) callback(nullptr, Errors{requests::timeOutError()});
  });
  auto handler = [guard, callback = std::move(callback)](
                     std::optional<requests::TypedResult<Mutation::Data>> result,
                     std::optional<Error> error) mutable {
    if (!guard->settle()) return;
    const requests::AnswerRules rules{makeInvalidResponseError(), makeInvalidResponseError(),
                                      requests::AnswerRules::Hop::onServiceErrors};
    requests::answerFromResult(
        std::move(result), std::move(error), rules,
        [](const Mutation::Data& data) { return data.deleteBodysizeEstimation(); },
        [callback = std::move(callback)](auto root, std::optional<Errors> errors) {
          if (!callback) return;
          callback(root ? model::makeEstimationRequest(*root) : nullptr, std::move(errors));
        });
  };
  guard->attach(requests::performTyped<Mutation>(
      *client, Mutation(std::move(input)), CorvenzaEnterprise::mainQueue(), std::move(handler)));
}

}  // namespace corvenza
