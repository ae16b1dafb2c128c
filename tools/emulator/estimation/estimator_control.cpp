#include "estimation/estimator_control.h"

#include <nlohmann/json.hpp>

namespace corvenza::emulator::estimation {

Response EstimatorControl::handle(const Request& request) {
  if (request.subpath != "/complete" && request.subpath != "/fail") {
    return simpleError(404, "NotFound", "unknown estimator hook");
  }
  if (request.method != "POST") return simpleError(405, "MethodNotAllowed", "POST only");
  const auto body = nlohmann::json::parse(request.body, nullptr, false);
  if (!body.is_object() || !body.contains("id") || !body["id"].is_string()) {
    return simpleError(400, "BadRequest", "expected {\"id\": string}");
  }
  const auto id = body["id"].get<std::string>();
  const auto decision =
      request.subpath == "/complete" ? Estimator::Decision::Complete : Estimator::Decision::Fail;
  auto result = estimator_.decideNow(id, decision);
  if (!result) return simpleError(500, "InternalError", result.error().localizedDescription());
  switch (*result) {
    case Estimator::DecisionResult::NotFound:
      return simpleError(404, "NotFound", "no such request");
    case Estimator::DecisionResult::NotPending:
      return simpleError(409, "Conflict", "the request is not waiting for an estimate");
    case Estimator::DecisionResult::Decided:
      break;
  }
  return jsonResponse(200, {{"id", id}, {"decided", request.subpath.substr(1)}});
}

}  // namespace corvenza::emulator::estimation
