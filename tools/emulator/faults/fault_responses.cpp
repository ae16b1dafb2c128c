#include "faults/fault_responses.h"

#include <nlohmann/json.hpp>

#include "base/s3_error.h"

namespace corvenza::emulator::faults {
namespace {

constexpr const char* kErrorType = "InjectedFault";

std::string defaultMessage(const Fault& fault) {
  return "fault injected by the emulator (" + std::to_string(fault.status) + ")";
}

Response withErrorType(Response response) {
  response.headers.emplace_back("x-amzn-ErrorType", kErrorType);
  return response;
}

}  // namespace

Response faultResponse(const Fault& fault) {
  if (fault.action == Action::Malformed || fault.body) {
    Response response;
    response.status = fault.status;
    response.headers.emplace_back("Content-Type", fault.contentType);
    response.body = fault.body.value_or(kMalformedBody);
    return response;
  }
  const auto message = defaultMessage(fault);
  switch (fault.route) {
    case Route::Identity:
      return withErrorType(jsonResponse(fault.status,
                                        {{"__type", kErrorType}, {"message", message}},
                                        "application/x-amz-json-1.1"));
    case Route::GraphQL:
      return withErrorType(jsonResponse(
          fault.status, {{"errors", nlohmann::json::array(
                                        {{{"errorType", kErrorType}, {"message", message}}})}}));
    case Route::Storage:
      return s3Error(fault.status, kErrorType, message, "");
    default:
      return simpleError(fault.status, kErrorType, message);
  }
}

std::string realtimeFaultFrame(const Fault& fault, const std::string& id) {
  if (fault.action == Action::Malformed) return fault.body.value_or(kMalformedBody);
  const nlohmann::json error = {{"errorType", kErrorType},
                                {"message", fault.body.value_or(defaultMessage(fault))},
                                {"errorCode", fault.status}};
  return nlohmann::json{
      {"type", "error"}, {"id", id}, {"payload", {{"errors", nlohmann::json::array({error})}}}}
      .dump();
}

}  // namespace corvenza::emulator::faults
