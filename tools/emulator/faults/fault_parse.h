#pragma once
// Faults as the control interface and the command line write them.
//
// JSON: {"route": "graphql", "field": "createBodysizeEstimation",
//        "action": "fail", "status": 503, "times": 2}
// Command line: the same keys as key=value pairs separated by commas
// ("route=graphql,field=createBodysizeEstimation,action=fail,status=503"), or
// the JSON object itself when a value needs a comma.

#include <nlohmann/json_fwd.hpp>
#include <string_view>

#include "core/result.h"
#include "faults/fault.h"

namespace corvenza::emulator::faults {

/// The fault @p object describes, or an error naming the first problem:
/// unknown keys, routes, actions or fields, values out of range, or keys that
/// mean nothing for the action.
detail::Result<Fault> faultFromJson(const nlohmann::json& object);

/// The fault of one command-line argument (key=value list or JSON object).
detail::Result<Fault> parseFaultArgument(std::string_view argument);

/// The fault as faultFromJson() reads it back.
nlohmann::ordered_json faultToJson(const Fault& fault);

}  // namespace corvenza::emulator::faults
