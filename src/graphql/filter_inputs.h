#pragma once
// The list query's filter inputs. The library never sends a filter; the
// types mirror the schema so the "filter" variable can carry one. A new
// filter holds every key, none given; fill the ones you need.

#include <initializer_list>

#include "graphql/input_object.h"

namespace corvenza::graphql {

/// The comparison keys shared by the scalar filters; "beginsWith" exists
/// only for identifiers and strings.
template <typename T, bool kHasBeginsWith>
class ComparisonFilterInput : public InputObject {
 public:
  using List = std::vector<std::optional<T>>;

  ComparisonFilterInput() {
    if constexpr (kHasBeginsWith) store("beginsWith", InputValue<T>());
    store("between", InputValue<List>());
    for (const char* key : {"contains", "eq", "ge", "gt", "le", "lt", "ne", "notContains"}) {
      store(key, InputValue<T>());
    }
  }
  static ComparisonFilterInput fromJson(const nlohmann::json& j) {
    ComparisonFilterInput f;
    f.assignFromJson(j);
    return f;
  }

  InputValue<T> beginsWith() const requires kHasBeginsWith {
    return this->template load<T>("beginsWith");
  }
  void setBeginsWith(const InputValue<T>& v) requires kHasBeginsWith {
    this->store("beginsWith", v);
  }
  InputValue<List> between() const { return load<List>("between"); }
  void setBetween(const InputValue<List>& v) { store("between", v); }
  InputValue<T> contains() const { return load<T>("contains"); }
  void setContains(const InputValue<T>& v) { store("contains", v); }
  InputValue<T> eq() const { return load<T>("eq"); }
  void setEq(const InputValue<T>& v) { store("eq", v); }
  InputValue<T> ge() const { return load<T>("ge"); }
  void setGe(const InputValue<T>& v) { store("ge", v); }
  InputValue<T> gt() const { return load<T>("gt"); }
  void setGt(const InputValue<T>& v) { store("gt", v); }
  InputValue<T> le() const { return load<T>("le"); }
  void setLe(const InputValue<T>& v) { store("le", v); }
  InputValue<T> lt() const { return load<T>("lt"); }
  void setLt(const InputValue<T>& v) { store("lt", v); }
  InputValue<T> ne() const { return load<T>("ne"); }
  void setNe(const InputValue<T>& v) { store("ne", v); }
  InputValue<T> notContains() const { return load<T>("notContains"); }
  void setNotContains(const InputValue<T>& v) { store("notContains", v); }
};

using TableFloatFilterInput = ComparisonFilterInput<double, false>;
using TableIntFilterInput = ComparisonFilterInput<std::int64_t, false>;
using TableGenderFilterInput = ComparisonFilterInput<Gender, false>;
using TableStatusFilterInput = ComparisonFilterInput<BodysizeEstimationStatus, false>;
using TableIDFilterInput = ComparisonFilterInput<std::string, true>;
using TableStringFilterInput = ComparisonFilterInput<std::string, true>;

class TableBooleanFilterInput : public InputObject {
 public:
  TableBooleanFilterInput() {
    store("eq", InputValue<bool>());
    store("ne", InputValue<bool>());
  }
  static TableBooleanFilterInput fromJson(const nlohmann::json& j) {
    TableBooleanFilterInput f;
    f.assignFromJson(j);
    return f;
  }

  InputValue<bool> eq() const { return load<bool>("eq"); }
  void setEq(const InputValue<bool>& v) { store("eq", v); }
  InputValue<bool> ne() const { return load<bool>("ne"); }
  void setNe(const InputValue<bool>& v) { store("ne", v); }
};

/// Variable "filter" of the list query: twenty-four optional field filters.
class TableBodysizeEstimationFilterInput : public InputObject {
 public:
  TableBodysizeEstimationFilterInput();
  static TableBodysizeEstimationFilterInput fromJson(const nlohmann::json& j) {
    TableBodysizeEstimationFilterInput f;
    f.assignFromJson(j);
    return f;
  }

  InputValue<TableFloatFilterInput> bicepCircumference() const {
    return load<TableFloatFilterInput>("bicepCircumference");
  }
  void setBicepCircumference(const InputValue<TableFloatFilterInput>& v) {
    store("bicepCircumference", v);
  }
  InputValue<TableFloatFilterInput> calfCircumference() const {
    return load<TableFloatFilterInput>("calfCircumference");
  }
  void setCalfCircumference(const InputValue<TableFloatFilterInput>& v) {
    store("calfCircumference", v);
  }
  InputValue<TableFloatFilterInput> chestCircumference() const {
    return load<TableFloatFilterInput>("chestCircumference");
  }
  void setChestCircumference(const InputValue<TableFloatFilterInput>& v) {
    store("chestCircumference", v);
  }
  InputValue<TableIntFilterInput> createdAt() const {
    return load<TableIntFilterInput>("createdAt");
  }
  void setCreatedAt(const InputValue<TableIntFilterInput>& v) { store("createdAt", v); }
  InputValue<TableBooleanFilterInput> failOnAutomaticEstimationFailure() const {
    return load<TableBooleanFilterInput>("failOnAutomaticEstimationFailure");
  }
  void setFailOnAutomaticEstimationFailure(const InputValue<TableBooleanFilterInput>& v) {
    store("failOnAutomaticEstimationFailure", v);
  }
  InputValue<TableGenderFilterInput> gender() const {
    return load<TableGenderFilterInput>("gender");
  }
  void setGender(const InputValue<TableGenderFilterInput>& v) { store("gender", v); }
  InputValue<TableFloatFilterInput> height() const { return load<TableFloatFilterInput>("height"); }
  void setHeight(const InputValue<TableFloatFilterInput>& v) { store("height", v); }
  InputValue<TableFloatFilterInput> highHipCircumference() const {
    return load<TableFloatFilterInput>("highHipCircumference");
  }
  void setHighHipCircumference(const InputValue<TableFloatFilterInput>& v) {
    store("highHipCircumference", v);
  }
  InputValue<TableFloatFilterInput> hipCircumference() const {
    return load<TableFloatFilterInput>("hipCircumference");
  }
  void setHipCircumference(const InputValue<TableFloatFilterInput>& v) {
    store("hipCircumference", v);
  }
  InputValue<TableIDFilterInput> id() const { return load<TableIDFilterInput>("id"); }
  void setId(const InputValue<TableIDFilterInput>& v) { store("id", v); }
  InputValue<TableFloatFilterInput> inseamLength() const {
    return load<TableFloatFilterInput>("inseamLength");
  }
  void setInseamLength(const InputValue<TableFloatFilterInput>& v) { store("inseamLength", v); }
  InputValue<TableFloatFilterInput> kneeCircumference() const {
    return load<TableFloatFilterInput>("kneeCircumference");
  }
  void setKneeCircumference(const InputValue<TableFloatFilterInput>& v) {
    store("kneeCircumference", v);
  }
  InputValue<TableFloatFilterInput> midThighCircumference() const {
    return load<TableFloatFilterInput>("midThighCircumference");
  }
  void setMidThighCircumference(const InputValue<TableFloatFilterInput>& v) {
    store("midThighCircumference", v);
  }
  InputValue<TableFloatFilterInput> neckCircumference() const {
    return load<TableFloatFilterInput>("neckCircumference");
  }
  void setNeckCircumference(const InputValue<TableFloatFilterInput>& v) {
    store("neckCircumference", v);
  }
  InputValue<TableFloatFilterInput> outseamLength() const {
    return load<TableFloatFilterInput>("outseamLength");
  }
  void setOutseamLength(const InputValue<TableFloatFilterInput>& v) { store("outseamLength", v); }
  InputValue<TableFloatFilterInput> shoulderWidth() const {
    return load<TableFloatFilterInput>("shoulderWidth");
  }
  void setShoulderWidth(const InputValue<TableFloatFilterInput>& v) { store("shoulderWidth", v); }
  InputValue<TableFloatFilterInput> sleeveLength() const {
    return load<TableFloatFilterInput>("sleeveLength");
  }
  void setSleeveLength(const InputValue<TableFloatFilterInput>& v) { store("sleeveLength", v); }
  InputValue<TableStatusFilterInput> status() const {
    return load<TableStatusFilterInput>("status");
  }
  void setStatus(const InputValue<TableStatusFilterInput>& v) { store("status", v); }
  InputValue<TableFloatFilterInput> thighCircumference() const {
    return load<TableFloatFilterInput>("thighCircumference");
  }
  void setThighCircumference(const InputValue<TableFloatFilterInput>& v) {
    store("thighCircumference", v);
  }
  InputValue<TableFloatFilterInput> totalLength() const {
    return load<TableFloatFilterInput>("totalLength");
  }
  void setTotalLength(const InputValue<TableFloatFilterInput>& v) { store("totalLength", v); }
  InputValue<TableStringFilterInput> userId() const {
    return load<TableStringFilterInput>("userId");
  }
  void setUserId(const InputValue<TableStringFilterInput>& v) { store("userId", v); }
  InputValue<TableFloatFilterInput> waistCircumference() const {
    return load<TableFloatFilterInput>("waistCircumference");
  }
  void setWaistCircumference(const InputValue<TableFloatFilterInput>& v) {
    store("waistCircumference", v);
  }
  InputValue<TableFloatFilterInput> weight() const { return load<TableFloatFilterInput>("weight"); }
  void setWeight(const InputValue<TableFloatFilterInput>& v) { store("weight", v); }
  InputValue<TableFloatFilterInput> wristCircumference() const {
    return load<TableFloatFilterInput>("wristCircumference");
  }
  void setWristCircumference(const InputValue<TableFloatFilterInput>& v) {
    store("wristCircumference", v);
  }
};

}  // namespace corvenza::graphql
