#include "gql/validator.h"

#include <set>
#include <string>

#include "gql/input_values.h"

namespace corvenza::emulator::gql {
namespace {

// Variable of type @p variable may flow into a position of type @p location:
// the same type, or a non-null variable where a nullable one is expected, or
// a nullable variable with a default value where a non-null one is expected.
bool typeFits(const TypeRef& variable, const TypeRef& location) {
  if (location.kind == TypeRef::Kind::NonNull) {
    if (variable.kind != TypeRef::Kind::NonNull) return false;
    return typeFits(*variable.of, *location.of);
  }
  if (variable.kind == TypeRef::Kind::NonNull) return typeFits(*variable.of, location);
  if (location.kind == TypeRef::Kind::List) {
    return variable.kind == TypeRef::Kind::List && typeFits(*variable.of, *location.of);
  }
  return variable.kind == TypeRef::Kind::Named && variable.name == location.name;
}

class Validator {
 public:
  Validator(const Schema& schema, const Document& document)
      : schema_(schema), document_(document) {}

  std::vector<GraphQLError> run() {
    checkOperations();
    for (const auto& fragment : document_.fragments) checkFragmentDefinition(fragment);
    for (const auto& op : document_.operations) checkOperation(op);
    for (const auto& fragment : document_.fragments) {
      if (!usedFragments_.count(fragment.name)) {
        error("Validation error of type UnusedFragment: Unused fragment " + fragment.name,
              fragment.location);
      }
    }
    return std::move(errors_);
  }

 private:
  void error(std::string message, Location at) {
    // A document can repeat the same mistake many times; a handful of reports suffice.
    if (errors_.size() < 100) errors_.push_back({std::move(message), kValidationError, {at}, {}});
  }

  void checkOperations() {
    std::set<std::string> names;
    for (const auto& op : document_.operations) {
      if (op.name.empty() && document_.operations.size() > 1) {
        error(
            "Validation error of type LoneAnonymousOperation: an anonymous operation must be "
            "the only operation in the document",
            op.location);
      }
      if (!op.name.empty() && !names.insert(op.name).second) {
        error(
            "Validation error of type DuplicateOperationName: There can be only one operation "
            "named '" +
                op.name + "'",
            op.location);
      }
    }
    std::set<std::string> fragmentNames;
    for (const auto& fragment : document_.fragments) {
      if (!fragmentNames.insert(fragment.name).second) {
        error(
            "Validation error of type DuplicateFragmentName: There can be only one fragment "
            "named '" +
                fragment.name + "'",
            fragment.location);
      }
    }
  }

  void checkFragmentDefinition(const FragmentDefinition& fragment) {
    const auto* type = schema_.find(fragment.typeCondition);
    if (!type) {
      error("Validation error of type UnknownType: Unknown type " + fragment.typeCondition,
            fragment.location);
    } else if (type->kind != TypeKind::Object) {
      error(
          "Validation error of type InvalidFragmentType: Fragment type condition is not an "
          "object type: " +
              fragment.typeCondition,
          fragment.location);
    }
  }

  void checkOperation(const OperationDefinition& op) {
    const auto* root = schema_.rootType(op.kind);
    if (!root) {
      error(
          "Validation error of type UnknownOperation: the schema has no root for this "
          "operation",
          op.location);
      return;
    }
    operation_ = &op;
    usedVariables_.clear();
    std::set<std::string> variableNames;
    for (const auto& var : op.variables) {
      if (!variableNames.insert(var.name).second) {
        error(
            "Validation error of type DuplicateVariableName: There can be only one variable "
            "named '" +
                var.name + "'",
            var.location);
      }
      if (!schema_.find(var.type.baseName())) {
        error("Validation error of type UnknownType: Unknown type " + var.type.baseName(),
              var.location);
      } else if (!schema_.isInputType(var.type)) {
        error(
            "Validation error of type NonInputTypeOnVariable: Input type expected for "
            "variable '" +
                var.name + "'",
            var.location);
      } else if (var.hasDefault) {
        const auto problem = literalError(schema_, var.type, var.defaultValue);
        if (!problem.empty()) {
          error("Validation error of type BadValueForDefaultArg: " + problem, var.location);
        }
      }
    }
    checkDirectives(op.directives);
    visited_ = 0;
    std::set<std::string> activeFragments;
    checkSelections(*root, op.selections, activeFragments);
    if (op.kind == OperationDefinition::Kind::Subscription && rootFieldCount(op) != 1) {
      error(
          "Validation error of type SubscriptionMultipleRootFields: a subscription selects "
          "exactly one root field",
          op.location);
    }
    for (const auto& var : op.variables) {
      if (!usedVariables_.count(var.name)) {
        error("Validation error of type UnusedVariable: Unused variable " + var.name, var.location);
      }
    }
  }

  std::size_t rootFieldCount(const OperationDefinition& op) const {
    std::size_t count = 0;
    for (const auto& sel : op.selections) {
      if (sel.kind != Selection::Kind::Field || sel.name != "__typename") ++count;
    }
    return count;
  }

  const VariableDefinition* findVariable(const std::string& name) const {
    for (const auto& var : operation_->variables) {
      if (var.name == name) return &var;
    }
    return nullptr;
  }

  // Records the variables used in @p value and checks each against @p type.
  void checkVariableUses(const Value& value, const TypeRef& type) {
    if (value.kind == Value::Kind::Variable) {
      usedVariables_.insert(value.text);
      const auto* var = findVariable(value.text);
      if (!var) {
        error("Validation error of type UndefinedVariable: Undefined variable " + value.text,
              value.location);
        return;
      }
      const bool defaultCovers = var->hasDefault && var->defaultValue.kind != Value::Kind::Null &&
                                 type.kind == TypeRef::Kind::NonNull &&
                                 typeFits(var->type, *type.of);
      if (!typeFits(var->type, type) && !defaultCovers) {
        error("Validation error of type VariableTypeMismatch: Variable type '" +
                  var->type.toString() + "' doesn't match expected type '" + type.toString() + "'",
              value.location);
      }
      return;
    }
    const TypeRef& inner = type.kind == TypeRef::Kind::NonNull ? *type.of : type;
    if (value.kind == Value::Kind::List && inner.kind == TypeRef::Kind::List) {
      for (const auto& item : value.items) checkVariableUses(item, *inner.of);
    } else if (value.kind == Value::Kind::Object && inner.kind == TypeRef::Kind::Named) {
      const auto* def = schema_.find(inner.name);
      for (const auto& [name, fieldValue] : value.fields) {
        const auto* field = def ? def->findInputField(name) : nullptr;
        if (field) checkVariableUses(fieldValue, field->type);
      }
    }
  }

  void checkArguments(const std::vector<Argument>& given, const std::vector<InputValueDef>& defs,
                      const std::string& owner, Location at) {
    std::set<std::string> seen;
    for (const auto& arg : given) {
      if (!seen.insert(arg.name).second) {
        error("Validation error of type DuplicateArgumentNames: argument '" + arg.name +
                  "' is given twice",
              arg.location);
      }
      const InputValueDef* def = nullptr;
      for (const auto& d : defs) {
        if (d.name == arg.name) def = &d;
      }
      if (!def) {
        error("Validation error of type UnknownArgument: Unknown argument " + arg.name + " on " +
                  owner,
              arg.location);
        continue;
      }
      checkVariableUses(arg.value, def->type);
      const auto problem = literalError(schema_, def->type, arg.value);
      if (!problem.empty()) {
        error("Validation error of type WrongType: argument '" + arg.name + "' with value '" +
                  describe(arg.value) + "' is not a valid '" + def->type.toString() +
                  "': " + problem,
              arg.location);
      }
    }
    for (const auto& def : defs) {
      if (def.type.kind == TypeRef::Kind::NonNull && !seen.count(def.name)) {
        error("Validation error of type MissingFieldArgument: Missing field argument " + def.name +
                  " on " + owner,
              at);
      }
    }
  }

  static std::string describe(const Value& value) {
    switch (value.kind) {
      case Value::Kind::Null:
        return "null";
      case Value::Kind::Boolean:
        return value.boolean ? "true" : "false";
      case Value::Kind::Variable:
        return "$" + value.text;
      case Value::Kind::List:
        return "[...]";
      case Value::Kind::Object:
        return "{...}";
      default:
        return value.text;
    }
  }

  void checkDirectives(const std::vector<Directive>& directives) {
    static const std::vector<InputValueDef> ifArgument = {
        {"if", TypeRef::nonNull(TypeRef::named("Boolean"))}};
    for (const auto& directive : directives) {
      if (directive.name != "skip" && directive.name != "include") {
        error("Validation error of type UnknownDirective: Unknown directive " + directive.name,
              directive.location);
        continue;
      }
      checkArguments(directive.arguments, ifArgument, "directive " + directive.name,
                     directive.location);
    }
  }

  void checkSelections(const TypeDef& parent, const std::vector<Selection>& selections,
                       std::set<std::string>& activeFragments) {
    for (const auto& sel : selections) {
      if (++visited_ > kMaxVisitedSelections) {
        if (visited_ == kMaxVisitedSelections + 1) {
          error("Validation error of type QueryTooComplex: the document selects too much",
                sel.location);
        }
        return;
      }
      checkDirectives(sel.directives);
      switch (sel.kind) {
        case Selection::Kind::Field:
          checkField(parent, sel, activeFragments);
          break;
        case Selection::Kind::InlineFragment:
          if (!sel.typeCondition.empty() &&
              !checkTypeCondition(parent, sel.typeCondition, sel.location)) {
            break;
          }
          checkSelections(parent, sel.selections, activeFragments);
          break;
        case Selection::Kind::FragmentSpread:
          checkSpread(parent, sel, activeFragments);
          break;
      }
    }
  }

  bool checkTypeCondition(const TypeDef& parent, const std::string& condition, Location at) {
    const auto* type = schema_.find(condition);
    if (!type) {
      error("Validation error of type UnknownType: Unknown type " + condition, at);
      return false;
    }
    if (type != &parent) {
      error(
          "Validation error of type InvalidFragmentType: Fragment cannot be spread here as "
          "objects of type '" +
              parent.name + "' can never be of type '" + condition + "'",
          at);
      return false;
    }
    return true;
  }

  void checkSpread(const TypeDef& parent, const Selection& sel,
                   std::set<std::string>& activeFragments) {
    usedFragments_.insert(sel.name);
    const auto* fragment = document_.findFragment(sel.name);
    if (!fragment) {
      error("Validation error of type UndefinedFragment: Undefined fragment " + sel.name,
            sel.location);
      return;
    }
    if (activeFragments.count(sel.name)) {
      error("Validation error of type FragmentCycle: Fragment cycle detected at " + sel.name,
            sel.location);
      return;
    }
    if (!checkTypeCondition(parent, fragment->typeCondition, sel.location)) return;
    activeFragments.insert(sel.name);
    checkSelections(parent, fragment->selections, activeFragments);
    activeFragments.erase(sel.name);
  }

  void checkField(const TypeDef& parent, const Selection& sel,
                  std::set<std::string>& activeFragments) {
    if (sel.name == "__typename") {
      if (!sel.selections.empty() || !sel.arguments.empty()) {
        error(
            "Validation error of type SubSelectionNotAllowed: Sub selection not allowed on "
            "leaf type String! of field __typename",
            sel.location);
      }
      return;
    }
    const auto* field = parent.findField(sel.name);
    if (!field) {
      error("Validation error of type FieldUndefined: Field '" + sel.name + "' in type '" +
                parent.name + "' is undefined",
            sel.location);
      return;
    }
    checkArguments(sel.arguments, field->arguments, "field " + sel.name, sel.location);
    const auto* type = schema_.find(field->type.baseName());
    if (!type) return;
    if (type->kind == TypeKind::Object) {
      if (sel.selections.empty()) {
        error("Validation error of type SubSelectionRequired: Sub selection required for type " +
                  field->type.toString() + " of field " + sel.name,
              sel.location);
        return;
      }
      checkSelections(*type, sel.selections, activeFragments);
    } else if (!sel.selections.empty()) {
      error(
          "Validation error of type SubSelectionNotAllowed: Sub selection not allowed on leaf "
          "type " +
              field->type.toString() + " of field " + sel.name,
          sel.location);
    }
  }

  const Schema& schema_;
  const Document& document_;
  const OperationDefinition* operation_ = nullptr;
  std::set<std::string> usedVariables_;
  std::set<std::string> usedFragments_;
  std::vector<GraphQLError> errors_;
  int visited_ = 0;
};

}  // namespace

std::vector<GraphQLError> validateDocument(const Schema& schema, const Document& document) {
  if (document.operations.empty()) {
    return {{"Validation error of type NoOperation: the document holds no operation",
             kValidationError,
             {document.fragments.empty() ? Location{} : document.fragments.front().location},
             {}}};
  }
  return Validator(schema, document).run();
}

}  // namespace corvenza::emulator::gql
