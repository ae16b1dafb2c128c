#include "faults/fault_control.h"

#include <nlohmann/json.hpp>

#include "base/bounded_json.h"
#include "faults/fault_parse.h"

namespace corvenza::emulator::faults {

Response handleFaultControl(FaultTable& table, const Request& request) {
  nlohmann::ordered_json answer;
  if (request.method == "POST") {
    const auto body = parseBoundedJson(request.body);
    if (!body.is_object() && !body.is_array()) {
      return simpleError(400, "BadRequest", "expected a fault object or an array of them");
    }
    std::vector<Fault> faults;
    for (const auto& item : body.is_array() ? body : nlohmann::json::array({body})) {
      auto fault = faultFromJson(item);
      if (!fault) {
        const auto at = body.is_array() ? "fault " + std::to_string(faults.size()) + ": " : "";
        return simpleError(400, "BadRequest", at + fault.error().localizedDescription());
      }
      faults.push_back(std::move(*fault));
    }
    answer["ids"] = table.add(std::move(faults));
  } else if (request.method == "DELETE") {
    table.clear();
  } else if (request.method != "GET") {
    return simpleError(405, "MethodNotAllowed", "use GET, POST or DELETE");
  }
  answer["faults"] = table.list();
  Response response;
  response.headers.emplace_back("Content-Type", "application/json");
  response.body = answer.dump();
  return response;
}

}  // namespace corvenza::emulator::faults
