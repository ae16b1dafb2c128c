#include "gql/input_values.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace corvenza::emulator::gql {
namespace {

bool fail(std::string& error, std::string message) {
  error = std::move(message);
  return false;
}

bool coerceScalar(const TypeDef& def, const nlohmann::json& in, nlohmann::json& out,
                  std::string& error) {
  const auto& name = def.name;
  if (def.kind == TypeKind::Enum) {
    if (in.is_string() && def.hasEnumValue(in.get<std::string>())) {
      out = in;
      return true;
    }
    return fail(error, "'" + in.dump() + "' is not a valid " + name);
  }
  if (name == "Int") {
    double value = 0;
    if (in.is_number_integer()) {
      value = static_cast<double>(in.get<std::int64_t>());
    } else if (in.is_number_float() && std::trunc(in.get<double>()) == in.get<double>()) {
      value = in.get<double>();
    } else {
      return fail(error, "'" + in.dump() + "' is not an Int");
    }
    if (value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max()) {
      return fail(error, "'" + in.dump() + "' is outside the range of Int");
    }
    out = static_cast<std::int64_t>(value);
    return true;
  }
  if (name == "Float") {
    if (!in.is_number()) return fail(error, "'" + in.dump() + "' is not a Float");
    out = in.get<double>();
    return true;
  }
  if (name == "String") {
    if (!in.is_string()) return fail(error, "'" + in.dump() + "' is not a String");
    out = in;
    return true;
  }
  if (name == "ID") {
    if (in.is_string()) {
      out = in;
    } else if (in.is_number_integer()) {
      out = in.dump();
    } else {
      return fail(error, "'" + in.dump() + "' is not an ID");
    }
    return true;
  }
  if (name == "Boolean") {
    if (!in.is_boolean()) return fail(error, "'" + in.dump() + "' is not a Boolean");
    out = in;
    return true;
  }
  return fail(error, "unknown scalar " + name);
}

// A literal scalar as the JSON value it denotes, or nothing when malformed.
bool literalToJson(const Value& literal, nlohmann::json& out) {
  switch (literal.kind) {
    case Value::Kind::Int: {
      errno = 0;
      const long long v = std::strtoll(literal.text.c_str(), nullptr, 10);
      if (errno == ERANGE) {
        out = std::strtod(literal.text.c_str(), nullptr);
      } else {
        out = static_cast<std::int64_t>(v);
      }
      return true;
    }
    case Value::Kind::Float:
      out = std::strtod(literal.text.c_str(), nullptr);
      return true;
    case Value::Kind::String:
      out = literal.text;
      return true;
    case Value::Kind::Boolean:
      out = literal.boolean;
      return true;
    case Value::Kind::Enum:
      out = literal.text;
      return true;
    default:
      return false;
  }
}

// One walk for both checking (variables == nullptr: a variable is always
// acceptable) and coercing.
bool walkLiteral(const Schema& schema, const TypeRef& type, const Value& literal,
                 const nlohmann::json* variables, nlohmann::json& out, bool& present,
                 std::string& error) {
  present = true;
  if (literal.kind == Value::Kind::Variable) {
    if (!variables) return true;
    const auto it = variables->find(literal.text);
    if (it == variables->end()) {
      present = false;
      if (type.kind == TypeRef::Kind::NonNull) {
        return fail(error, "variable '" + literal.text + "' has no value");
      }
      return true;
    }
    if (it->is_null() && type.kind == TypeRef::Kind::NonNull) {
      return fail(error, "variable '" + literal.text + "' must not be null");
    }
    out = *it;
    return true;
  }
  if (type.kind == TypeRef::Kind::NonNull) {
    if (literal.kind == Value::Kind::Null) return fail(error, "null is not a " + type.toString());
    return walkLiteral(schema, *type.of, literal, variables, out, present, error);
  }
  if (literal.kind == Value::Kind::Null) {
    out = nullptr;
    return true;
  }
  if (type.kind == TypeRef::Kind::List) {
    out = nlohmann::json::array();
    if (literal.kind != Value::Kind::List) {
      nlohmann::json item;
      bool itemPresent = true;
      if (!walkLiteral(schema, *type.of, literal, variables, item, itemPresent, error)) {
        return false;
      }
      out.push_back(itemPresent ? item : nlohmann::json());
      return true;
    }
    for (const auto& element : literal.items) {
      nlohmann::json item;
      bool itemPresent = true;
      if (!walkLiteral(schema, *type.of, element, variables, item, itemPresent, error)) {
        return false;
      }
      out.push_back(itemPresent ? item : nlohmann::json());
    }
    return true;
  }
  const auto* def = schema.find(type.name);
  if (!def || def->kind == TypeKind::Object) return fail(error, "unknown input type " + type.name);
  if (def->kind == TypeKind::InputObject) {
    if (literal.kind != Value::Kind::Object) {
      return fail(error, "expected an object of type " + def->name);
    }
    out = nlohmann::json::object();
    for (const auto& [name, fieldValue] : literal.fields) {
      const auto* field = def->findInputField(name);
      if (!field) return fail(error, "field '" + name + "' is not defined on " + def->name);
      if (out.contains(name)) return fail(error, "field '" + name + "' is given twice");
      nlohmann::json value;
      bool fieldPresent = true;
      if (!walkLiteral(schema, field->type, fieldValue, variables, value, fieldPresent, error)) {
        error = "field '" + name + "': " + error;
        return false;
      }
      if (fieldPresent) out[name] = std::move(value);
    }
    for (const auto& field : def->inputFields) {
      if (field.type.kind != TypeRef::Kind::NonNull || out.contains(field.name)) continue;
      const bool givenAsVariable = [&] {
        for (const auto& [name, fieldValue] : literal.fields) {
          if (name == field.name) return true;
        }
        return false;
      }();
      if (!variables && givenAsVariable) continue;
      return fail(error, "field '" + field.name + "' of " + def->name + " is required");
    }
    return true;
  }
  if (def->kind == TypeKind::Enum && literal.kind != Value::Kind::Enum) {
    return fail(error, "expected a " + def->name + " value");
  }
  if (def->kind == TypeKind::Scalar && literal.kind == Value::Kind::Enum) {
    return fail(error, "'" + literal.text + "' is not a " + def->name);
  }
  nlohmann::json raw;
  if (!literalToJson(literal, raw)) return fail(error, "expected a " + def->name + " value");
  if (def->name == "ID" && literal.kind == Value::Kind::Int) raw = literal.text;
  return coerceScalar(*def, raw, out, error);
}

}  // namespace

bool coerceJsonValue(const Schema& schema, const TypeRef& type, const nlohmann::json& in,
                     nlohmann::json& out, std::string& error) {
  if (type.kind == TypeRef::Kind::NonNull) {
    if (in.is_null()) return fail(error, "must not be null");
    return coerceJsonValue(schema, *type.of, in, out, error);
  }
  if (in.is_null()) {
    out = nullptr;
    return true;
  }
  if (type.kind == TypeRef::Kind::List) {
    out = nlohmann::json::array();
    const auto items = in.is_array() ? in : nlohmann::json::array({in});
    for (std::size_t i = 0; i < items.size(); ++i) {
      nlohmann::json item;
      if (!coerceJsonValue(schema, *type.of, items[i], item, error)) {
        error = "element " + std::to_string(i) + ": " + error;
        return false;
      }
      out.push_back(std::move(item));
    }
    return true;
  }
  const auto* def = schema.find(type.name);
  if (!def || def->kind == TypeKind::Object) return fail(error, "unknown input type " + type.name);
  if (def->kind != TypeKind::InputObject) return coerceScalar(*def, in, out, error);
  if (!in.is_object()) return fail(error, "expected an object of type " + def->name);
  out = nlohmann::json::object();
  for (const auto& [name, value] : in.items()) {
    const auto* field = def->findInputField(name);
    if (!field) return fail(error, "field '" + name + "' is not defined on " + def->name);
    nlohmann::json coerced;
    if (!coerceJsonValue(schema, field->type, value, coerced, error)) {
      error = "field '" + name + "' " + error;
      return false;
    }
    out[name] = std::move(coerced);
  }
  for (const auto& field : def->inputFields) {
    if (field.type.kind == TypeRef::Kind::NonNull && !out.contains(field.name)) {
      return fail(error, "field '" + field.name + "' of " + def->name + " is required");
    }
  }
  return true;
}

bool coerceLiteral(const Schema& schema, const TypeRef& type, const Value& literal,
                   const nlohmann::json& variables, nlohmann::json& out, bool& present,
                   std::string& error) {
  return walkLiteral(schema, type, literal, &variables, out, present, error);
}

std::string literalError(const Schema& schema, const TypeRef& type, const Value& literal) {
  nlohmann::json ignored;
  bool present = true;
  std::string error;
  if (walkLiteral(schema, type, literal, nullptr, ignored, present, error)) return {};
  return error;
}

}  // namespace corvenza::emulator::gql
