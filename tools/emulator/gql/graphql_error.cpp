#include "gql/graphql_error.h"

#include <nlohmann/json.hpp>

namespace corvenza::emulator::gql {

nlohmann::ordered_json toJson(const GraphQLError& error) {
  nlohmann::ordered_json out = nlohmann::ordered_json::object();
  if (error.path.empty()) {
    out["path"] = nullptr;
  } else {
    out["path"] = nlohmann::ordered_json::array();
    for (const auto& segment : error.path) {
      if (const auto* key = std::get_if<std::string>(&segment)) {
        out["path"].push_back(*key);
      } else {
        out["path"].push_back(std::get<int>(segment));
      }
    }
  }
  out["data"] = nullptr;
  out["errorType"] = error.errorType.empty() ? nlohmann::ordered_json(nullptr)
                                             : nlohmann::ordered_json(error.errorType);
  out["errorInfo"] = nullptr;
  out["locations"] = nlohmann::ordered_json::array();
  for (const auto& location : error.locations) {
    out["locations"].push_back(
        {{"line", location.line}, {"column", location.column}, {"sourceName", nullptr}});
  }
  out["message"] = error.message;
  return out;
}

}  // namespace corvenza::emulator::gql
