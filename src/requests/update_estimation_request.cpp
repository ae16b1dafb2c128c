// Changing a request's parameters.

#include <corvenza/console.h>

#include "model/estimation_request_builder.h"
#include "requests/operation_guard.h"
#include "requests/request_support.h"
#include "requests/typed_graphql.h"

namespace corvenza {

void CorvenzaEnterprise::updateEstimationRequest(const std::string& id,
                                                 const EstimationParameter& estimationParameter,
                                                 RequestCallback callback) {
  shared().updateEstimationRequest(id, estimationParameter, std::move(callback));
}

void CorvenzaEnterprise::Instance::updateEstimationRequest(
    const std::string& id, const EstimationParameter& estimationParameter,
    RequestCallback callback) {
  auto client = requests::graphQLClient(*impl_);
  if (!client) {
    requests::callBackWithErrors(std::move(callback), {requests::notInitializedError()});
    return;
  }
  // The fail flag is left out so an update never changes it; gender is always
  // sent, as null when the parameter has none.
  graphql::UpdateBodysizeEstimationInput input(
      std::int64_t{estimationParameter.age}, graphql::InputValue<bool>::notGiven(),
      graphql::InputValue<Gender>(estimationParameter.gender), estimationParameter.heightInCm, id,
      estimationParameter.weightInKg);
  using Mutation = graphql::UpdateBodysizeEstimationMutation;
  auto guard = requests::guardOperation(*impl_, [callback] {
    if (callback) callback(nullptr, Errors{requests::timeOutError()});
  });
  auto handler = [guard, callback = std::move(callback)](
                     std::optional<requests::TypedResult<Mutation::Data>> result,
                     std::optional<Error> error) mutable {
    if (!guard->settle()) return;
    // One more hop, so the callback always runs after the handler has returned.
    CorvenzaEnterprise::mainQueue()->async([callback = std::move(callback),
                                            result = std::move(result),
                                            error = std::move(error)]() mutable {
      auto answer = [&](std::shared_ptr<EstimationRequest> record, std::optional<Errors> errors) {
        if (callback) callback(std::move(record), std::move(errors));
      };
      if (error) {
        consoleLine(error->localizedDescription());
        answer(nullptr, Errors{*error});
        return;
      }
      if (!result) {
        answer(nullptr, Errors{makeInvalidResponseError()});
        return;
      }
      if (result->errors) {
        requests::printErrors(*result->errors);
        answer(nullptr, std::move(result->errors));
        return;
      }
      auto root = result->data ? result->data->updateBodysizeEstimation() : std::nullopt;
      if (!root) {
        answer(nullptr, Errors{makeInvalidResponseError()});
        return;
      }
      answer(model::makeEstimationRequest(root->fragments().bodysizeEstimationMinimumOutput()),
             std::nullopt);
    });
  };
  guard->attach(requests::performTyped<Mutation>(
      *client, Mutation(std::move(input)), CorvenzaEnterprise::mainQueue(), std::move(handler)));
}

}  // namespace corvenza
