#include "faults/request_faults.h"

#include "gql/root_fields.h"

namespace corvenza::emulator::faults {
namespace {

bool isUnder(const std::string& path, std::string_view prefix) {
  return path.compare(0, prefix.size(), prefix) == 0 &&
         (path.size() == prefix.size() || path[prefix.size()] == '/');
}

std::vector<std::string> fieldsOf(Route route, const Request& request) {
  if (route == Route::GraphQL) return gql::rootFieldNames(request.body);
  if (route == Route::Identity) {
    const auto target = request.header("X-Amz-Target").value_or("");
    return {target.substr(target.rfind('.') + 1)};
  }
  return {};
}

}  // namespace

std::optional<Route> routeOf(const std::string& path) {
  if (isUnder(path, "/graphql/realtime")) return Route::Realtime;
  if (isUnder(path, "/graphql")) return Route::GraphQL;
  if (isUnder(path, "/auth")) return Route::Auth;
  if (isUnder(path, "/identity")) return Route::Identity;
  if (isUnder(path, "/s3")) return Route::Storage;
  return std::nullopt;
}

std::optional<Fault> takeRequestFault(FaultTable& table, const Request& request) {
  const auto route = routeOf(request.path);
  if (!route) return std::nullopt;
  FaultPoint point{*route, request.method, {}, false};
  if (table.wantsFields(*route)) point.fields = fieldsOf(*route, request);
  return table.take(point);
}

}  // namespace corvenza::emulator::faults
