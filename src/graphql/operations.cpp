#include "graphql/operations.h"

namespace corvenza::graphql {

nlohmann::json variablesJson(const Variables& variables) {
  nlohmann::json out = nlohmann::json::object();
  for (const auto& [name, value] : variables) {
    if (value) out[name] = *value;
  }
  return out;
}

Variables ListBodysizeEstimationsQuery::variables() const {
  Variables out;
  out["filter"] = filter ? std::optional<nlohmann::json>(filter->toJson()) : std::nullopt;
  out["limit"] = limit ? std::optional<nlohmann::json>(*limit) : std::nullopt;
  out["nextToken"] = nextToken ? std::optional<nlohmann::json>(*nextToken) : std::nullopt;
  return out;
}

}  // namespace corvenza::graphql
