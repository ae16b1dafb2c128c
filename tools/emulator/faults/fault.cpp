#include "faults/fault.h"

#include <algorithm>

namespace corvenza::emulator::faults {

bool matches(const Fault& fault, const FaultPoint& point) {
  if (fault.route != point.route) return false;
  if (!fault.method.empty() && fault.method != point.method) return false;
  // A real-time fault without a field is about opening the connection; one
  // with a field is about starting that subscription.
  if (point.route == Route::Realtime && fault.field.empty() == point.subscription) return false;
  if (fault.field.empty()) return true;
  return std::find(point.fields.begin(), point.fields.end(), fault.field) != point.fields.end();
}

std::string_view routeName(Route route) {
  switch (route) {
    case Route::Auth:
      return "auth";
    case Route::Identity:
      return "identity";
    case Route::GraphQL:
      return "graphql";
    case Route::Storage:
      return "storage";
    case Route::Realtime:
      return "realtime";
  }
  return "";
}

std::string_view actionName(Action action) {
  switch (action) {
    case Action::Fail:
      return "fail";
    case Action::Drop:
      return "drop";
    case Action::Malformed:
      return "malformed";
    case Action::Stall:
      return "stall";
  }
  return "";
}

}  // namespace corvenza::emulator::faults
