#include "platform/appsync/graphql_error.h"

#include <nlohmann/json.hpp>
#include <string>

namespace corvenza::appsync {
namespace {

using nlohmann::json;

std::string scalarText(const json& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_number_integer()) return std::to_string(value.get<long long>());
  if (value.is_number_unsigned()) return std::to_string(value.get<unsigned long long>());
  return value.dump();
}

std::string joinedPath(const json& path) {
  if (!path.is_array()) return scalarText(path);
  std::string joined;
  for (const auto& segment : path) {
    if (!joined.empty()) joined += '.';
    joined += scalarText(segment);
  }
  return joined;
}

std::string joinedLocations(const json& locations) {
  std::string joined;
  const auto append = [&](const json& location) {
    if (!location.is_object()) return;
    const auto line = location.find("line");
    const auto column = location.find("column");
    if (!joined.empty()) joined += ',';
    joined += line != location.end() ? scalarText(*line) : "?";
    joined += ':';
    joined += column != location.end() ? scalarText(*column) : "?";
  };
  if (locations.is_array()) {
    for (const auto& location : locations) append(location);
  } else {
    append(locations);
  }
  return joined;
}

}  // namespace

Error makeGraphQLError(const json& entry) {
  std::string message;
  UserInfo info;
  if (entry.is_string()) {
    message = entry.get<std::string>();
  } else if (entry.is_object()) {
    if (auto it = entry.find("message"); it != entry.end() && !it->is_null()) {
      message = scalarText(*it);
    }
    if (auto it = entry.find("errorType"); it != entry.end() && !it->is_null()) {
      info["errorType"] = scalarText(*it);
    }
    if (auto it = entry.find("path"); it != entry.end() && !it->is_null()) {
      info["path"] = joinedPath(*it);
    }
    if (auto it = entry.find("locations"); it != entry.end() && !it->is_null()) {
      if (auto locations = joinedLocations(*it); !locations.empty()) {
        info["locations"] = std::move(locations);
      }
    }
  }
  if (message.empty()) message = kGraphQLErrorNoMessage;
  return Error(kGraphQLErrorDomain, kGraphQLErrorCode, std::move(info), std::move(message));
}

std::vector<Error> parseGraphQLErrors(const json& errors) {
  std::vector<Error> parsed;
  if (errors.is_null()) return parsed;
  if (errors.is_array()) {
    parsed.reserve(errors.size());
    for (const auto& entry : errors) parsed.push_back(makeGraphQLError(entry));
  } else {
    parsed.push_back(makeGraphQLError(errors));
  }
  return parsed;
}

}  // namespace corvenza::appsync
