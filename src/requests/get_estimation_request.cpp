// Reading one request.

#include <corvenza/console.h>

#include "core/time_format.h"
#include "model/estimation_request_builder.h"
#include "requests/request_support.h"
#include "requests/typed_graphql.h"

namespace corvenza {

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
  using Query = graphql::GetBodysizeEstimationQuery;
  auto handler = [id, callback = std::move(callback)](
                     std::optional<requests::TypedResult<Query::Data>> result,
                     std::optional<Error> error) {
    consoleLine("[SPEED_TEST]:retServe:" + detail::getNow() + "[" + id + "]");
    auto answer = [&](std::shared_ptr<EstimationRequest> record, std::optional<Errors> errors) {
      if (callback) callback(std::move(record), std::move(errors));
    };
    if (error) {
      consoleLine(error->localizedDescription());
      answer(nullptr, Errors{*error});
      return;
    }
    if (!result) {
      answer(nullptr, Errors{CorvenzaEnterprise::unknownError()});
      return;
    }
    if (result->errors) {
      requests::printErrors(*result->errors);
      answer(nullptr, std::move(result->errors));
      return;
    }
    auto root = result->data ? result->data->getBodysizeEstimation() : std::nullopt;
    if (!root) {
      answer(nullptr, Errors{CorvenzaEnterprise::unknownError()});
      return;
    }
    answer(model::makeEstimationRequest(root->fragments().bodysizeEstimation()), std::nullopt);
  };
  requests::fetchTyped<Query>(*client, Query(id), requests::readCachePolicy(*impl_),
                              CorvenzaEnterprise::mainQueue(), std::move(handler));
}

}  // namespace corvenza
