// Changing a request's parameters.

#include <corvenza/console.h>

#include "model/estimation_request_builder.h"
#include "requests/answer_step.h"
#include "requests/operation_guard.h"
#include "requests/operations.h"
#include "requests/request_support.h"
#include "requests/typed_graphql.h"

namespace corvenza::requests {

void updateEstimationRequest(const StatePtr& state, const std::string& id,
                             const EstimationParameter& estimationParameter,
                             RequestCallback callback) {
  auto client = graphQLClient(*state);
  if (!client) {
    callBackWithErrors(state->queue(), std::move(callback), {notInitializedError()});
    return;
  }
  // The fail flag is left out so an update never changes it; gender is always
  // sent, as null when the parameter has none.
  graphql::UpdateBodysizeEstimationInput input(
      std::int64_t{estimationParameter.age}, graphql::InputValue<bool>::notGiven(),
      graphql::InputValue<Gender>(estimationParameter.gender), estimationParameter.heightInCm, id,
      estimationParameter.weightInKg);
  using Mutation = graphql::UpdateBodysizeEstimationMutation;
  auto guard = requests::guardOperation(*state, [callback] {
    if (callback) callback(nullptr, Errors{requests::timeOutError()});
  });
  auto handler = [guard, queue = state->queue(), callback = std::move(callback)](
                     std::optional<requests::TypedResult<Mutation::Data>> result,
                     std::optional<Error> error) mutable {
    if (!guard->settle()) return;
    const requests::AnswerRules rules{makeInvalidResponseError(), makeInvalidResponseError(),
                                      requests::AnswerRules::Hop::always, queue};
    requests::answerFromResult(
        std::move(result), std::move(error), rules,
        [](const Mutation::Data& data) { return data.updateBodysizeEstimation(); },
        [callback = std::move(callback)](auto root, std::optional<Errors> errors) {
          if (!callback) return;
          callback(root ? model::makeEstimationRequest(
                              root->fragments().bodysizeEstimationMinimumOutput())
                        : nullptr,
                   std::move(errors));
        });
  };
  guard->attach(requests::performTyped<Mutation>(*client, Mutation(std::move(input)),
                                                 state->queue(), std::move(handler)));
}

}  // namespace corvenza::requests
