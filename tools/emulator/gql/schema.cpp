#include "gql/schema.h"

#include <array>
#include <initializer_list>
#include <utility>

#include "estimation/estimation_fields.h"
#include "gql/parser.h"

namespace corvenza::emulator::gql {
namespace {

using estimation::kFilterFields;
using estimation::kImageFields;
using estimation::kMeasurementFields;
using estimation::kProbabilityFields;

TypeRef type(std::string_view text) {
  auto parsed = parseTypeRef(text);
  // The texts below are fixed; a typo must fail loudly at start-up.
  if (!parsed) std::abort();
  return std::move(*parsed);
}

using NameAndType = std::pair<const char*, const char*>;

std::vector<InputValueDef> inputs(std::initializer_list<NameAndType> list) {
  std::vector<InputValueDef> out;
  for (const auto& [name, typeText] : list) out.push_back({name, type(typeText)});
  return out;
}

TypeDef inputObject(std::string name, std::vector<InputValueDef> fields) {
  TypeDef def;
  def.name = std::move(name);
  def.kind = TypeKind::InputObject;
  def.inputFields = std::move(fields);
  return def;
}

// The comparison keys shared by the scalar filter inputs.
TypeDef scalarFilter(std::string name, const std::string& element, bool withBeginsWith) {
  std::vector<InputValueDef> fields;
  if (withBeginsWith) fields.push_back({"beginsWith", type(element)});
  fields.push_back({"between", type("[" + element + "]")});
  for (const char* key : {"contains", "eq", "ge", "gt", "le", "lt", "ne", "notContains"}) {
    fields.push_back({key, type(element)});
  }
  return inputObject(std::move(name), std::move(fields));
}

TypeDef estimationType() {
  TypeDef def;
  def.name = "BodysizeEstimation";
  def.kind = TypeKind::Object;
  auto add = [&def](const std::string& name, const char* typeText) {
    def.fields.push_back({name, type(typeText), {}});
  };
  add("id", "ID!");
  add("userId", "ID!");
  add("createdAt", "Int!");
  add("status", "BodysizeEstimationStatus!");
  add("gender", "Gender");
  add("age", "Int!");
  add("height", "Float!");
  add("weight", "Float!");
  for (const char* image : kImageFields) add(image, "S3Object");
  for (const char* measurement : kMeasurementFields) add(measurement, "Float");
  add("failOnAutomaticEstimationFailure", "Boolean");
  add("errorCode", "String");
  for (const char* probability : kProbabilityFields) add(probability, "Int");
  return def;
}

Schema buildEstimationSchema() {
  Schema schema;
  for (const char* scalar : {"ID", "String", "Int", "Float", "Boolean"}) {
    schema.add({scalar, TypeKind::Scalar, {}, {}, {}});
  }
  schema.add({"Gender", TypeKind::Enum, {}, {}, {"female", "male"}});
  schema.add({"BodysizeEstimationStatus",
              TypeKind::Enum,
              {},
              {},
              {"requested", "pendingAutomaticEstimation", "pendingManualEstimation", "completed",
               "failed"}});

  schema.add({"S3Object",
              TypeKind::Object,
              {{"bucket", type("String!"), {}},
               {"key", type("String!"), {}},
               {"region", type("String!"), {}}},
              {},
              {}});
  schema.add(estimationType());
  schema.add({"BodysizeEstimationConnection",
              TypeKind::Object,
              {{"items", type("[BodysizeEstimation]"), {}}, {"nextToken", type("String"), {}}},
              {},
              {}});

  schema.add(inputObject("CreateBodysizeEstimationInput",
                         inputs({{"age", "Int!"},
                                 {"failOnAutomaticEstimationFailure", "Boolean"},
                                 {"gender", "Gender"},
                                 {"height", "Float!"},
                                 {"weight", "Float!"}})));
  schema.add(inputObject("UpdateBodysizeEstimationInput",
                         inputs({{"age", "Int"},
                                 {"failOnAutomaticEstimationFailure", "Boolean"},
                                 {"gender", "Gender"},
                                 {"height", "Float"},
                                 {"id", "ID!"},
                                 {"weight", "Float"}})));
  schema.add(
      inputObject("DeleteBodysizeEstimationInput", inputs({{"createdAt", "Int"}, {"id", "ID!"}})));
  schema.add(inputObject("S3ObjectInput", inputs({{"bucket", "String!"},
                                                  {"key", "String!"},
                                                  {"localUri", "String!"},
                                                  {"mimeType", "String!"},
                                                  {"region", "String!"}})));

  schema.add(scalarFilter("TableFloatFilterInput", "Float", false));
  schema.add(scalarFilter("TableIntFilterInput", "Int", false));
  schema.add(scalarFilter("TableGenderFilterInput", "Gender", false));
  schema.add(scalarFilter("TableStatusFilterInput", "BodysizeEstimationStatus", false));
  schema.add(scalarFilter("TableIDFilterInput", "ID", true));
  schema.add(scalarFilter("TableStringFilterInput", "String", true));
  schema.add(
      inputObject("TableBooleanFilterInput", inputs({{"eq", "Boolean"}, {"ne", "Boolean"}})));
  std::vector<InputValueDef> filterFields;
  for (const auto& [field, filterType] : kFilterFields) {
    filterFields.push_back({field, type(filterType)});
  }
  schema.add(inputObject("TableBodysizeEstimationFilterInput", std::move(filterFields)));

  const auto estimation = "BodysizeEstimation";
  schema.add({"Query",
              TypeKind::Object,
              {{"getBodysizeEstimation", type(estimation), inputs({{"id", "ID!"}})},
               {"listBodysizeEstimations", type("BodysizeEstimationConnection"),
                inputs({{"filter", "TableBodysizeEstimationFilterInput"},
                        {"limit", "Int"},
                        {"nextToken", "String"}})}},
              {},
              {}});
  schema.add({"Mutation",
              TypeKind::Object,
              {{"createBodysizeEstimation", type(estimation),
                inputs({{"input", "CreateBodysizeEstimationInput!"}})},
               {"updateBodysizeEstimation", type(estimation),
                inputs({{"input", "UpdateBodysizeEstimationInput!"}})},
               {"deleteBodysizeEstimation", type(estimation),
                inputs({{"input", "DeleteBodysizeEstimationInput!"}})},
               {"attachFrontImage", type(estimation),
                inputs({{"id", "ID!"}, {"image", "S3ObjectInput!"}})},
               {"attachSideImage", type(estimation),
                inputs({{"id", "ID!"}, {"image", "S3ObjectInput!"}})}},
              {},
              {}});
  schema.add({"Subscription",
              TypeKind::Object,
              {{"onCreateBodysizeEstimation", type(estimation), inputs({{"userId", "ID!"}})},
               {"onUpdateBodysizeEstimation", type(estimation), inputs({{"userId", "ID!"}})},
               {"onDeleteBodysizeEstimation", type(estimation), inputs({{"userId", "ID!"}})}},
              {},
              {}});
  return schema;
}

}  // namespace

const InputValueDef* FieldDef::findArgument(std::string_view argName) const {
  for (const auto& arg : arguments) {
    if (arg.name == argName) return &arg;
  }
  return nullptr;
}

const FieldDef* TypeDef::findField(std::string_view fieldName) const {
  for (const auto& field : fields) {
    if (field.name == fieldName) return &field;
  }
  return nullptr;
}

const InputValueDef* TypeDef::findInputField(std::string_view fieldName) const {
  for (const auto& field : inputFields) {
    if (field.name == fieldName) return &field;
  }
  return nullptr;
}

bool TypeDef::hasEnumValue(std::string_view value) const {
  for (const auto& v : enumValues) {
    if (v == value) return true;
  }
  return false;
}

const Schema& Schema::estimation() {
  static const Schema schema = buildEstimationSchema();
  return schema;
}

const TypeDef* Schema::find(std::string_view typeName) const {
  const auto it = types_.find(std::string(typeName));
  return it == types_.end() ? nullptr : &it->second;
}

const TypeDef* Schema::rootType(OperationDefinition::Kind kind) const {
  switch (kind) {
    case OperationDefinition::Kind::Query:
      return find("Query");
    case OperationDefinition::Kind::Mutation:
      return find("Mutation");
    case OperationDefinition::Kind::Subscription:
      return find("Subscription");
  }
  return nullptr;
}

bool Schema::isInputType(const TypeRef& typeRef) const {
  const auto* def = find(typeRef.baseName());
  return def && def->kind != TypeKind::Object;
}

void Schema::add(TypeDef typeDef) {
  auto name = typeDef.name;
  types_.insert_or_assign(std::move(name), std::move(typeDef));
}

}  // namespace corvenza::emulator::gql
