#include "estimation/estimation_filter.h"

#include <string>

namespace corvenza::emulator::estimation {
namespace {

bool comparable(const nlohmann::json& a, const nlohmann::json& b) {
  return (a.is_number() && b.is_number()) || (a.is_string() && b.is_string()) ||
         (a.is_boolean() && b.is_boolean());
}

bool contains(const nlohmann::json& value, const nlohmann::json& operand) {
  if (value.is_string() && operand.is_string()) {
    return value.get<std::string>().find(operand.get<std::string>()) != std::string::npos;
  }
  return false;
}

bool holds(const std::string& op, const nlohmann::json& value, const nlohmann::json& operand) {
  if (operand.is_null()) return true;  // an empty condition constrains nothing
  if (op == "ne") return value != operand;
  if (op == "notContains") return !contains(value, operand);
  if (value.is_null()) return false;
  if (op == "eq") return value == operand;
  if (op == "contains") return contains(value, operand);
  if (op == "beginsWith") {
    return value.is_string() && operand.is_string() &&
           value.get<std::string>().rfind(operand.get<std::string>(), 0) == 0;
  }
  if (op == "between") {
    if (!operand.is_array() || operand.size() != 2) return false;
    return comparable(value, operand[0]) && comparable(value, operand[1]) && operand[0] <= value &&
           value <= operand[1];
  }
  if (!comparable(value, operand)) return false;
  if (op == "gt") return value > operand;
  if (op == "ge") return value >= operand;
  if (op == "lt") return value < operand;
  if (op == "le") return value <= operand;
  return false;
}

}  // namespace

bool matchesFilter(const nlohmann::json& record, const nlohmann::json& filter) {
  if (!filter.is_object()) return true;
  for (const auto& [field, conditions] : filter.items()) {
    if (!conditions.is_object()) continue;
    const auto it = record.find(field);
    const nlohmann::json value = it == record.end() ? nlohmann::json() : *it;
    for (const auto& [op, operand] : conditions.items()) {
      if (!holds(op, value, operand)) return false;
    }
  }
  return true;
}

}  // namespace corvenza::emulator::estimation
