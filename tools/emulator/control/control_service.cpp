#include "control/control_service.h"

#include <cstdint>
#include <mutex>
#include <nlohmann/json.hpp>

#include "base/bounded_json.h"
#include "faults/fault_control.h"

namespace corvenza::emulator {

ControlService::ControlService(EmulatorContext& context) {
  addHook("/clock", [&context](const Request& request) {
    if (request.method == "POST") {
      const auto body = parseBoundedJson(request.body);
      const auto advance = body.is_object() ? body.find("advance_seconds") : body.end();
      if (!body.is_object() || advance == body.end() || !advance->is_number_integer()) {
        return simpleError(400, "BadRequest", "expected {\"advance_seconds\": integer}");
      }
      // An unsigned value above the signed range would wrap into a negative step.
      const bool representable =
          !advance->is_number_unsigned() ||
          advance->get<std::uint64_t>() <= static_cast<std::uint64_t>(INT64_MAX);
      if (!representable || !context.clock.advance(advance->get<std::int64_t>())) {
        return simpleError(400, "BadRequest",
                           "advance_seconds would move the clock outside 1970-01-01T00:00:00Z "
                           "to 2200-01-01T00:00:00Z");
      }
    } else if (request.method != "GET") {
      return simpleError(405, "MethodNotAllowed", "use GET or POST");
    }
    return jsonResponse(200, {{"now", context.clock.nowSeconds()},
                              {"offset_seconds", context.clock.offsetSeconds()}});
  });
  addHook("/faults", [&context](const Request& request) {
    return faults::handleFaultControl(context.faults, request);
  });
}

void ControlService::addHook(std::string subpath, Hook hook) {
  std::unique_lock lock(mutex_);
  hooks_[std::move(subpath)] = std::move(hook);
}

Response ControlService::handle(const Request& request) {
  Hook hook;
  {
    std::shared_lock lock(mutex_);
    const auto it = hooks_.find(request.subpath);
    if (it == hooks_.end()) return simpleError(404, "NotFound", "unknown control hook");
    hook = it->second;
  }
  return hook(request);
}

}  // namespace corvenza::emulator
