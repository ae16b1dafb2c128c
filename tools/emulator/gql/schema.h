#pragma once
// The type system the gateway serves: the types, fields, arguments, input
// objects and enums that estimation clients select and send. Immutable once
// built, so it is shared freely between threads.

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "gql/ast.h"

namespace corvenza::emulator::gql {

enum class TypeKind { Scalar, Object, Enum, InputObject };

struct InputValueDef {
  std::string name;
  TypeRef type;
};

struct FieldDef {
  std::string name;
  TypeRef type;
  std::vector<InputValueDef> arguments;

  const InputValueDef* findArgument(std::string_view argName) const;
};

struct TypeDef {
  std::string name;
  TypeKind kind = TypeKind::Scalar;
  std::vector<FieldDef> fields;            ///< Object
  std::vector<InputValueDef> inputFields;  ///< InputObject
  std::vector<std::string> enumValues;     ///< Enum

  const FieldDef* findField(std::string_view fieldName) const;
  const InputValueDef* findInputField(std::string_view fieldName) const;
  bool hasEnumValue(std::string_view value) const;
};

class Schema {
 public:
  /// The estimation service's schema.
  static const Schema& estimation();

  const TypeDef* find(std::string_view typeName) const;
  /// "Query", "Mutation" or "Subscription".
  const TypeDef* rootType(OperationDefinition::Kind kind) const;
  bool isInputType(const TypeRef& type) const;

  void add(TypeDef type);

 private:
  std::unordered_map<std::string, TypeDef> types_;
};

}  // namespace corvenza::emulator::gql
