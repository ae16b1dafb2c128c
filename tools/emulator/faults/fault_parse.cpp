#include "faults/fault_parse.h"

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>
#include <set>
#include <utility>

#include "base/bounded_json.h"
#include "gql/schema.h"

namespace corvenza::emulator::faults {
namespace {

using Json = nlohmann::json;
using Kind = gql::OperationDefinition::Kind;

constexpr std::int64_t kLongestDelayMs = 3'600'000;

Error faultError(std::string message) {
  return Error("EmulatorFaultError", 1, std::nullopt, std::move(message));
}

std::optional<Route> routeNamed(std::string_view name) {
  for (const auto route :
       {Route::Auth, Route::Identity, Route::GraphQL, Route::Storage, Route::Realtime}) {
    if (routeName(route) == name) return route;
  }
  return std::nullopt;
}

std::optional<Action> actionNamed(std::string_view name) {
  for (const auto action : {Action::Fail, Action::Drop, Action::Malformed, Action::Stall}) {
    if (actionName(action) == name) return action;
  }
  return std::nullopt;
}

bool isRootField(Kind kind, const std::string& name) {
  const auto* root = gql::Schema::estimation().rootType(kind);
  return root && root->findField(name);
}

// Why @p field cannot name requests of @p route, or nothing. A misspelt field
// would silently never fire, so only names the route knows are taken.
std::optional<std::string> fieldProblem(Route route, const std::string& field) {
  switch (route) {
    case Route::GraphQL:
      if (isRootField(Kind::Query, field) || isRootField(Kind::Mutation, field) ||
          isRootField(Kind::Subscription, field)) {
        return std::nullopt;
      }
      return "\"" + field + "\" is no root field of the GraphQL schema";
    case Route::Realtime:
      if (isRootField(Kind::Subscription, field)) return std::nullopt;
      return "\"" + field + "\" is no subscription field";
    case Route::Identity:
      if (field == "GetId" || field == "GetCredentialsForIdentity") return std::nullopt;
      return "the identity operations are GetId and GetCredentialsForIdentity";
    default:
      return "route \"" + std::string(routeName(route)) + "\" has no fields";
  }
}

detail::Result<std::string> stringMember(const Json& object, const char* key) {
  const auto& value = object.at(key);
  if (!value.is_string()) return faultError(std::string(key) + " must be a string");
  return value.get<std::string>();
}

// An integer member within [low, high].
detail::Result<std::int64_t> integerMember(const Json& object, const char* key, std::int64_t low,
                                           std::int64_t high) {
  const auto& value = object.at(key);
  const bool representable =
      value.is_number_integer() && (!value.is_number_unsigned() ||
                                    value.get<std::uint64_t>() <= static_cast<std::uint64_t>(high));
  if (!representable || value.get<std::int64_t>() < low || value.get<std::int64_t>() > high) {
    return faultError(std::string(key) + " must be an integer from " + std::to_string(low) +
                      " to " + std::to_string(high));
  }
  return value.get<std::int64_t>();
}

}  // namespace

detail::Result<Fault> faultFromJson(const Json& object) {
  if (!object.is_object()) return faultError("a fault is a JSON object");
  static const std::set<std::string> kKeys = {"route",    "field",  "method", "action",
                                              "when",     "status", "body",   "content_type",
                                              "delay_ms", "times"};
  for (const auto& [key, value] : object.items()) {
    if (!kKeys.count(key)) return faultError("unknown key \"" + key + "\"");
  }
  Fault fault;
  if (!object.contains("route")) return faultError("route is required");
  auto routeText = stringMember(object, "route");
  if (!routeText) return routeText.error();
  const auto route = routeNamed(*routeText);
  if (!route) {
    return faultError("route must be auth, identity, graphql, storage or realtime");
  }
  fault.route = *route;

  if (!object.contains("action")) return faultError("action is required");
  auto actionText = stringMember(object, "action");
  if (!actionText) return actionText.error();
  const auto action = actionNamed(*actionText);
  if (!action) return faultError("action must be fail, drop, malformed or stall");
  fault.action = *action;

  if (object.contains("field")) {
    auto field = stringMember(object, "field");
    if (!field) return field.error();
    if (auto problem = fieldProblem(fault.route, *field)) return faultError(*problem);
    fault.field = std::move(*field);
  }
  if (object.contains("method")) {
    auto method = stringMember(object, "method");
    if (!method) return method.error();
    std::transform(method->begin(), method->end(), method->begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    fault.method = std::move(*method);
  }
  if (object.contains("when")) {
    auto when = stringMember(object, "when");
    if (!when) return when.error();
    if (*when != "before" && *when != "after") return faultError("when must be before or after");
    fault.when = *when == "after" ? Timing::After : Timing::Before;
  }
  if (fault.route == Route::Realtime && fault.field.empty() && fault.when == Timing::After) {
    return faultError("a real-time connection fault acts before the connection is taken over");
  }

  const bool answers = fault.action == Action::Fail || fault.action == Action::Malformed;
  for (const char* key : {"status", "body", "content_type"}) {
    if (object.contains(key) && !answers) {
      return faultError(std::string(key) + " applies to fail and malformed only");
    }
  }
  fault.status = fault.action == Action::Malformed ? 200 : 500;
  if (object.contains("status")) {
    auto status = integerMember(object, "status", 100, 599);
    if (!status) return status.error();
    fault.status = static_cast<int>(*status);
  }
  if (object.contains("body")) {
    auto body = stringMember(object, "body");
    if (!body) return body.error();
    fault.body = std::move(*body);
  }
  if (object.contains("content_type")) {
    auto type = stringMember(object, "content_type");
    if (!type) return type.error();
    // It becomes a header line: no line breaks or other control characters.
    if (std::any_of(type->begin(), type->end(),
                    [](unsigned char c) { return c < 0x20 || c > 0x7e; })) {
      return faultError("content_type must be printable ASCII");
    }
    fault.contentType = std::move(*type);
  }
  if (object.contains("delay_ms")) {
    auto delay = integerMember(object, "delay_ms", 0, kLongestDelayMs);
    if (!delay) return delay.error();
    fault.delay = std::chrono::milliseconds(*delay);
  }
  if (object.contains("times")) {
    const auto& times = object.at("times");
    if (times == "always") {
      fault.times.reset();
    } else {
      auto count = integerMember(object, "times", 1, 1'000'000);
      if (!count) return faultError("times must be \"always\" or an integer from 1 to 1000000");
      fault.times = static_cast<int>(*count);
    }
  }
  return fault;
}

detail::Result<Fault> parseFaultArgument(std::string_view argument) {
  if (!argument.empty() && argument.front() == '{') {
    const auto object = parseBoundedJson(argument);
    if (object.is_discarded()) return faultError("the fault is not a JSON object");
    return faultFromJson(object);
  }
  Json object = Json::object();
  while (!argument.empty()) {
    const auto comma = argument.find(',');
    const auto pair = argument.substr(0, comma);
    const auto equals = pair.find('=');
    if (equals == std::string_view::npos || equals == 0) {
      return faultError("expected key=value, got \"" + std::string(pair) + "\"");
    }
    const auto key = std::string(pair.substr(0, equals));
    const auto value = std::string(pair.substr(equals + 1));
    if (object.contains(key)) return faultError("\"" + key + "\" is given twice");
    const bool numeric =
        (key == "status" || key == "delay_ms" || key == "times") && !value.empty() &&
        value.size() <= 18 &&
        std::all_of(value.begin(), value.end(), [](unsigned char c) { return std::isdigit(c); });
    object[key] = numeric ? Json(std::stoll(value)) : Json(value);
    if (comma == std::string_view::npos) break;
    argument.remove_prefix(comma + 1);
  }
  // Bytes that are not UTF-8 could not be listed back as JSON later.
  try {
    static_cast<void>(object.dump());
  } catch (const Json::exception&) {
    return faultError("the fault is not UTF-8 text");
  }
  return faultFromJson(object);
}

nlohmann::ordered_json faultToJson(const Fault& fault) {
  nlohmann::ordered_json out = {{"route", routeName(fault.route)}};
  if (!fault.field.empty()) out["field"] = fault.field;
  if (!fault.method.empty()) out["method"] = fault.method;
  out["action"] = actionName(fault.action);
  out["when"] = fault.when == Timing::After ? "after" : "before";
  if (fault.action == Action::Fail || fault.action == Action::Malformed) {
    out["status"] = fault.status;
    if (fault.body) out["body"] = *fault.body;
    out["content_type"] = fault.contentType;
  }
  if (fault.delay) out["delay_ms"] = fault.delay->count();
  out["times"] = fault.times ? nlohmann::ordered_json(*fault.times) : "always";
  return out;
}

}  // namespace corvenza::emulator::faults
