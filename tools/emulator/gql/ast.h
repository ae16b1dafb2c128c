#pragma once
// The syntax tree of an executable GraphQL document. Plain values owned by
// the Document; every node keeps where it started so errors can point at it.

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace corvenza::emulator::gql {

/// 1-based line and column of a node's first character.
struct Location {
  int line = 1;
  int column = 1;
};

struct Value {
  enum class Kind { Null, Int, Float, String, Boolean, Enum, List, Object, Variable };
  Kind kind = Kind::Null;
  /// Int and Float: the literal text; String: the decoded text; Enum and
  /// Variable: the name.
  std::string text;
  bool boolean = false;
  std::vector<Value> items;
  std::vector<std::pair<std::string, Value>> fields;
  Location location;
};

/// A type as written in a variable definition: "ID!", "[Float]", "Input!".
struct TypeRef {
  enum class Kind { Named, List, NonNull };
  Kind kind = Kind::Named;
  std::string name;
  std::shared_ptr<const TypeRef> of;

  static TypeRef named(std::string name) { return {Kind::Named, std::move(name), nullptr}; }
  static TypeRef list(TypeRef item) {
    return {Kind::List, {}, std::make_shared<const TypeRef>(std::move(item))};
  }
  static TypeRef nonNull(TypeRef inner) {
    return {Kind::NonNull, {}, std::make_shared<const TypeRef>(std::move(inner))};
  }
  /// The named type below every list and non-null wrapper.
  const std::string& baseName() const { return kind == Kind::Named ? name : of->baseName(); }
  std::string toString() const;
};

struct Argument {
  std::string name;
  Value value;
  Location location;
};

struct Directive {
  std::string name;
  std::vector<Argument> arguments;
  Location location;
};

struct Selection {
  enum class Kind { Field, FragmentSpread, InlineFragment };
  Kind kind = Kind::Field;
  /// Field: the alias or empty; unused otherwise.
  std::string alias;
  /// Field: field name; FragmentSpread: fragment name.
  std::string name;
  /// InlineFragment: the type condition or empty.
  std::string typeCondition;
  std::vector<Argument> arguments;
  std::vector<Directive> directives;
  std::vector<Selection> selections;
  Location location;

  const std::string& responseKey() const { return alias.empty() ? name : alias; }
};

struct VariableDefinition {
  std::string name;
  TypeRef type;
  bool hasDefault = false;
  Value defaultValue;
  Location location;
};

struct OperationDefinition {
  enum class Kind { Query, Mutation, Subscription };
  Kind kind = Kind::Query;
  std::string name;
  std::vector<VariableDefinition> variables;
  std::vector<Directive> directives;
  std::vector<Selection> selections;
  Location location;
};

struct FragmentDefinition {
  std::string name;
  std::string typeCondition;
  std::vector<Directive> directives;
  std::vector<Selection> selections;
  Location location;
};

struct Document {
  std::vector<OperationDefinition> operations;
  std::vector<FragmentDefinition> fragments;

  const FragmentDefinition* findFragment(const std::string& name) const {
    for (const auto& fragment : fragments) {
      if (fragment.name == name) return &fragment;
    }
    return nullptr;
  }
};

}  // namespace corvenza::emulator::gql
