#include "gql/executor.h"

#include <algorithm>
#include <cmath>

#include "gql/input_values.h"
#include "gql/parser.h"
#include "gql/validator.h"

namespace corvenza::emulator::gql {
namespace {

using OrderedJson = nlohmann::ordered_json;

// One response key with every selection that contributes to it, in document order.
struct CollectedField {
  std::string responseKey;
  std::vector<const Selection*> selections;
};

class Execution {
 public:
  Execution(const Schema& schema, const PreparedOperation& prepared)
      : schema_(schema), prepared_(prepared) {}

  std::vector<GraphQLError> errors;

  bool included(const std::vector<Directive>& directives) {
    for (const auto& directive : directives) {
      for (const auto& arg : directive.arguments) {
        if (arg.name != "if") continue;
        nlohmann::json value;
        bool present = true;
        std::string error;
        const auto type = TypeRef::nonNull(TypeRef::named("Boolean"));
        if (!coerceLiteral(schema_, type, arg.value, prepared_.variables, value, present, error) ||
            !present || !value.is_boolean()) {
          continue;
        }
        const bool condition = value.get<bool>();
        if (directive.name == "skip" && condition) return false;
        if (directive.name == "include" && !condition) return false;
      }
    }
    return true;
  }

  void collect(const std::vector<Selection>& selections, std::vector<CollectedField>& out,
               int& budget) {
    for (const auto& sel : selections) {
      if (--budget < 0) return;  // validation already bounded this; stay safe anyway
      if (!included(sel.directives)) continue;
      if (sel.kind == Selection::Kind::Field) {
        auto it = std::find_if(out.begin(), out.end(), [&](const CollectedField& f) {
          return f.responseKey == sel.responseKey();
        });
        if (it == out.end()) {
          out.push_back({sel.responseKey(), {&sel}});
        } else {
          it->selections.push_back(&sel);
        }
      } else if (sel.kind == Selection::Kind::InlineFragment) {
        collect(sel.selections, out, budget);
      } else if (const auto* fragment = prepared_.document.findFragment(sel.name)) {
        collect(fragment->selections, out, budget);
      }
    }
  }

  std::vector<CollectedField> collect(const std::vector<const Selection*>& parents) {
    std::vector<CollectedField> out;
    int budget = kMaxVisitedSelections;
    for (const auto* parent : parents) collect(parent->selections, out, budget);
    return out;
  }

  void fieldError(std::string message, const Selection& at, const Path& path,
                  std::string errorType = {}) {
    errors.push_back({std::move(message), std::move(errorType), {at.location}, path});
  }

  // Completes @p value as @p type; nothing means "null because of an error"
  // which the nearest nullable parent absorbs.
  std::optional<OrderedJson> complete(const TypeRef& type, const nlohmann::json& value,
                                      const CollectedField& field, Path& path) {
    if (type.kind == TypeRef::Kind::NonNull) {
      if (value.is_null()) {
        fieldError(
            "Cannot return null for non-nullable type: '" + type.of->toString() + "' within parent",
            *field.selections.front(), path);
        return std::nullopt;
      }
      return complete(*type.of, value, field, path);
    }
    if (value.is_null()) return OrderedJson(nullptr);
    if (type.kind == TypeRef::Kind::List) {
      if (!value.is_array()) {
        fieldError("Can't serialize value: expected a list", *field.selections.front(), path);
        return OrderedJson(nullptr);
      }
      OrderedJson list = OrderedJson::array();
      for (std::size_t i = 0; i < value.size(); ++i) {
        path.emplace_back(static_cast<int>(i));
        auto item = complete(*type.of, value[i], field, path);
        path.pop_back();
        if (!item) {
          if (type.of->kind == TypeRef::Kind::NonNull) return std::nullopt;
          item = OrderedJson(nullptr);
        }
        list.push_back(std::move(*item));
      }
      return list;
    }
    const auto* def = schema_.find(type.name);
    if (!def) return OrderedJson(nullptr);
    if (def->kind == TypeKind::Object) {
      if (!value.is_object()) {
        fieldError("Can't serialize value: expected an object", *field.selections.front(), path);
        return OrderedJson(nullptr);
      }
      return completeObject(*def, value, collect(field.selections), path);
    }
    auto leaf = serializeLeaf(*def, value);
    if (!leaf) {
      fieldError("Can't serialize value (" + value.dump() + ") : not a valid " + def->name,
                 *field.selections.front(), path);
    }
    return leaf;
  }

  std::optional<OrderedJson> completeObject(const TypeDef& def, const nlohmann::json& value,
                                            const std::vector<CollectedField>& fields, Path& path) {
    OrderedJson object = OrderedJson::object();
    for (const auto& field : fields) {
      const auto& name = field.selections.front()->name;
      if (name == "__typename") {
        object[field.responseKey] = def.name;
        continue;
      }
      const auto* fieldDef = def.findField(name);
      if (!fieldDef) continue;  // validation rejects this before execution
      const auto it = value.find(name);
      static const nlohmann::json null;
      path.emplace_back(field.responseKey);
      auto completed = complete(fieldDef->type, it == value.end() ? null : *it, field, path);
      path.pop_back();
      if (!completed) {
        if (fieldDef->type.kind == TypeRef::Kind::NonNull) return std::nullopt;
        completed = OrderedJson(nullptr);
      }
      object[field.responseKey] = std::move(*completed);
    }
    return object;
  }

  static std::optional<OrderedJson> serializeLeaf(const TypeDef& def, const nlohmann::json& v) {
    if (def.kind == TypeKind::Enum) {
      if (v.is_string() && def.hasEnumValue(v.get<std::string>())) return OrderedJson(v);
      return std::nullopt;
    }
    if (def.name == "Int") {
      if (v.is_number_integer()) return OrderedJson(v.get<std::int64_t>());
      if (v.is_number_float() && std::trunc(v.get<double>()) == v.get<double>()) {
        return OrderedJson(static_cast<std::int64_t>(v.get<double>()));
      }
      return std::nullopt;
    }
    if (def.name == "Float") {
      if (v.is_number()) return OrderedJson(v.get<double>());
      return std::nullopt;
    }
    if (def.name == "Boolean") {
      if (v.is_boolean()) return OrderedJson(v.get<bool>());
      return std::nullopt;
    }
    if (v.is_string()) return OrderedJson(v.get<std::string>());
    if (v.is_number_integer()) return OrderedJson(v.dump());
    return std::nullopt;
  }

 private:
  const Schema& schema_;
  const PreparedOperation& prepared_;
};

}  // namespace

OrderedJson errorResponse(const std::vector<GraphQLError>& errors) {
  OrderedJson response = OrderedJson::object();
  response["data"] = nullptr;
  response["errors"] = OrderedJson::array();
  for (const auto& error : errors) response["errors"].push_back(toJson(error));
  return response;
}

void Executor::setResolver(OperationDefinition::Kind kind, std::string field,
                           RootResolver resolver) {
  resolvers_[{kind, std::move(field)}] = std::move(resolver);
}

std::variant<PreparedOperation, OrderedJson> Executor::prepare(
    std::string_view query, const std::optional<std::string>& operationName,
    const nlohmann::json& variables) const {
  auto parsed = parseDocument(query);
  if (auto* error = std::get_if<GraphQLError>(&parsed)) return errorResponse({*error});
  PreparedOperation prepared;
  prepared.document = std::move(std::get<Document>(parsed));
  auto errors = validateDocument(schema_, prepared.document);
  if (!errors.empty()) return errorResponse(errors);

  const auto& operations = prepared.document.operations;
  if (operationName && !operationName->empty()) {
    const auto it = std::find_if(operations.begin(), operations.end(),
                                 [&](const auto& op) { return op.name == *operationName; });
    if (it == operations.end()) {
      return errorResponse(
          {{"Unknown operation named '" + *operationName + "'.", kBadRequest, {}, {}}});
    }
    prepared.operationIndex = static_cast<std::size_t>(it - operations.begin());
  } else if (operations.size() > 1) {
    return errorResponse({{"Must provide operation name if query contains multiple operations.",
                           kBadRequest,
                           {},
                           {}}});
  }

  if (!variables.is_null() && !variables.is_object()) {
    return errorResponse({{"Variables must be a JSON object", kBadRequest, {}, {}}});
  }
  prepared.variables = nlohmann::json::object();
  std::vector<GraphQLError> variableErrors;
  for (const auto& def : prepared.operation().variables) {
    const auto given = variables.is_object() ? variables.find(def.name) : variables.end();
    if (!variables.is_object() || given == variables.end()) {
      if (def.hasDefault) {
        nlohmann::json value;
        bool present = true;
        std::string error;
        if (coerceLiteral(schema_, def.type, def.defaultValue, prepared.variables, value, present,
                          error)) {
          prepared.variables[def.name] = std::move(value);
        }
      } else if (def.type.kind == TypeRef::Kind::NonNull) {
        variableErrors.push_back({"Variable '" + def.name +
                                      "' has coerced Null value for "
                                      "NonNull type '" +
                                      def.type.toString() + "'",
                                  kValidationError,
                                  {def.location},
                                  {}});
      }
      continue;
    }
    nlohmann::json value;
    std::string error;
    if (!coerceJsonValue(schema_, def.type, *given, value, error)) {
      variableErrors.push_back({"Variable '" + def.name + "' has an invalid value: " + error,
                                kValidationError,
                                {def.location},
                                {}});
      continue;
    }
    prepared.variables[def.name] = std::move(value);
  }
  if (!variableErrors.empty()) return errorResponse(variableErrors);
  return prepared;
}

std::variant<std::vector<RootFieldCall>, GraphQLError> Executor::rootFields(
    const PreparedOperation& prepared) const {
  Execution execution(schema_, prepared);
  const auto& op = prepared.operation();
  const auto* root = schema_.rootType(op.kind);
  std::vector<CollectedField> fields;
  int budget = kMaxVisitedSelections;
  execution.collect(op.selections, fields, budget);
  std::vector<RootFieldCall> calls;
  for (const auto& field : fields) {
    const auto& sel = *field.selections.front();
    const auto* def = root ? root->findField(sel.name) : nullptr;
    if (!def) continue;  // __typename
    RootFieldCall call{sel.name, field.responseKey, nlohmann::json::object()};
    for (const auto& arg : sel.arguments) {
      const auto* argDef = def->findArgument(arg.name);
      if (!argDef) continue;
      nlohmann::json value;
      bool present = true;
      std::string error;
      if (!coerceLiteral(schema_, argDef->type, arg.value, prepared.variables, value, present,
                         error)) {
        return GraphQLError{"Argument '" + arg.name + "' has an invalid value: " + error,
                            kValidationError,
                            {arg.location},
                            {field.responseKey}};
      }
      if (present) call.arguments[arg.name] = std::move(value);
    }
    calls.push_back(std::move(call));
  }
  return calls;
}

OrderedJson Executor::run(const PreparedOperation& prepared, const ResolveContext& context,
                          const nlohmann::json* presetRootValue) const {
  Execution execution(schema_, prepared);
  const auto& op = prepared.operation();
  const auto* root = schema_.rootType(op.kind);
  std::vector<CollectedField> fields;
  int budget = kMaxVisitedSelections;
  execution.collect(op.selections, fields, budget);

  OrderedJson data = OrderedJson::object();
  bool dataNull = false;
  for (const auto& field : fields) {
    const auto& sel = *field.selections.front();
    if (sel.name == "__typename") {
      data[field.responseKey] = root->name;
      continue;
    }
    const auto* def = root->findField(sel.name);
    if (!def) continue;
    Path path{field.responseKey};
    nlohmann::json value;
    if (presetRootValue) {
      value = *presetRootValue;
    } else {
      nlohmann::json arguments = nlohmann::json::object();
      bool argumentsOk = true;
      for (const auto& arg : sel.arguments) {
        const auto* argDef = def->findArgument(arg.name);
        if (!argDef) continue;
        nlohmann::json argValue;
        bool present = true;
        std::string error;
        if (!coerceLiteral(schema_, argDef->type, arg.value, prepared.variables, argValue, present,
                           error)) {
          execution.fieldError("Argument '" + arg.name + "' has an invalid value: " + error, sel,
                               path, kValidationError);
          argumentsOk = false;
          break;
        }
        if (present) arguments[arg.name] = std::move(argValue);
      }
      const auto resolver = resolvers_.find({op.kind, sel.name});
      if (!argumentsOk) {
        value = nullptr;
      } else if (resolver == resolvers_.end()) {
        execution.fieldError("No resolver for field " + sel.name, sel, path, "MappingTemplate");
      } else {
        auto outcome = resolver->second(arguments, context);
        if (auto* error = std::get_if<ResolverError>(&outcome)) {
          execution.fieldError(error->message, sel, path, error->errorType);
        } else {
          value = std::move(std::get<nlohmann::json>(outcome));
        }
      }
    }
    auto completed = execution.complete(def->type, value, field, path);
    if (!completed) {
      if (def->type.kind == TypeRef::Kind::NonNull) dataNull = true;
      completed = OrderedJson(nullptr);
    }
    data[field.responseKey] = std::move(*completed);
  }

  OrderedJson response = OrderedJson::object();
  response["data"] = dataNull ? OrderedJson(nullptr) : std::move(data);
  if (!execution.errors.empty()) {
    response["errors"] = OrderedJson::array();
    for (const auto& error : execution.errors) response["errors"].push_back(toJson(error));
  }
  return response;
}

OrderedJson Executor::execute(std::string_view query,
                              const std::optional<std::string>& operationName,
                              const nlohmann::json& variables,
                              const ResolveContext& context) const {
  auto prepared = prepare(query, operationName, variables);
  if (auto* response = std::get_if<OrderedJson>(&prepared)) return std::move(*response);
  return run(std::get<PreparedOperation>(prepared), context);
}

}  // namespace corvenza::emulator::gql
