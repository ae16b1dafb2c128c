#pragma once
// Base of every input object: the field map the operations send, and the
// conversions between field types and the JSON held in it.

#include <corvenza/estimation.h>

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <type_traits>
#include <vector>

#include "graphql/input_value.h"

namespace corvenza::graphql {

/// Field name to value; a key with a not-given value stays in the map.
using GraphQLMap = std::map<std::string, InputValue<nlohmann::json>>;

class InputObject {
 public:
  /// Every field, not-given ones included.
  const GraphQLMap& graphQLMap() const noexcept { return map_; }

  /// The JSON object sent on the wire: not-given fields are left out, fields
  /// given as null are sent as null.
  nlohmann::json toJson() const;

  friend bool operator==(const InputObject&, const InputObject&) = default;

 protected:
  InputObject() = default;

  /// Rebuilds the map from wire JSON (for nested inputs read back through a
  /// getter): keys that were left out are simply not there.
  void assignFromJson(const nlohmann::json& object);

  template <typename T>
  void store(const std::string& key, const InputValue<T>& value);
  template <typename T>
  InputValue<T> load(const std::string& key) const;
  /// For required fields: the value, or a neutral one if never stored.
  template <typename T>
  T loadRequired(const std::string& key) const;

 private:
  GraphQLMap map_;
};

// Field type <-> JSON. Decoding only ever sees JSON that encode wrote for the
// same type, but it still answers a neutral value rather than throw.
template <typename T, typename = void>
struct InputCodec;

template <>
struct InputCodec<double> {
  static nlohmann::json encode(double v) { return v; }
  static double decode(const nlohmann::json& j) { return j.is_number() ? j.get<double>() : 0.0; }
};
template <>
struct InputCodec<std::int64_t> {
  static nlohmann::json encode(std::int64_t v) { return v; }
  static std::int64_t decode(const nlohmann::json& j) {
    return j.is_number_integer() ? j.get<std::int64_t>() : 0;
  }
};
template <>
struct InputCodec<bool> {
  static nlohmann::json encode(bool v) { return v; }
  static bool decode(const nlohmann::json& j) { return j.is_boolean() && j.get<bool>(); }
};
template <>
struct InputCodec<std::string> {
  static nlohmann::json encode(const std::string& v) { return v; }
  static std::string decode(const nlohmann::json& j) {
    return j.is_string() ? j.get<std::string>() : std::string();
  }
};
template <>
struct InputCodec<Gender> {
  static nlohmann::json encode(const Gender& v) { return v.rawValue(); }
  static Gender decode(const nlohmann::json& j) {
    return Gender::fromRawValue(InputCodec<std::string>::decode(j));
  }
};
template <>
struct InputCodec<BodysizeEstimationStatus> {
  static nlohmann::json encode(const BodysizeEstimationStatus& v) { return v.rawValue(); }
  static BodysizeEstimationStatus decode(const nlohmann::json& j) {
    return BodysizeEstimationStatus::fromRawValue(InputCodec<std::string>::decode(j));
  }
};
template <typename T>
struct InputCodec<std::vector<std::optional<T>>> {
  static nlohmann::json encode(const std::vector<std::optional<T>>& list) {
    nlohmann::json out = nlohmann::json::array();
    for (const auto& e : list) out.push_back(e ? InputCodec<T>::encode(*e) : nlohmann::json());
    return out;
  }
  static std::vector<std::optional<T>> decode(const nlohmann::json& j) {
    std::vector<std::optional<T>> out;
    if (!j.is_array()) return out;
    for (const auto& e : j) {
      out.push_back(e.is_null() ? std::nullopt : std::optional<T>(InputCodec<T>::decode(e)));
    }
    return out;
  }
};
// Nested input objects (the filters) have a default constructor and fromJson.
template <typename T>
struct InputCodec<T, std::enable_if_t<std::is_base_of_v<InputObject, T>>> {
  static nlohmann::json encode(const T& v) { return v.toJson(); }
  static T decode(const nlohmann::json& j) { return T::fromJson(j); }
};

template <typename T>
void InputObject::store(const std::string& key, const InputValue<T>& value) {
  if (!value.isGiven()) {
    map_[key] = InputValue<nlohmann::json>();
  } else if (value.isNull()) {
    map_[key] = InputValue<nlohmann::json>::null();
  } else {
    map_[key] = InputValue<nlohmann::json>(InputCodec<T>::encode(*value.value()));
  }
}

template <typename T>
InputValue<T> InputObject::load(const std::string& key) const {
  auto it = map_.find(key);
  if (it == map_.end() || !it->second.isGiven()) return InputValue<T>();
  if (it->second.isNull()) return InputValue<T>::null();
  return InputValue<T>(InputCodec<T>::decode(*it->second.value()));
}

template <typename T>
T InputObject::loadRequired(const std::string& key) const {
  auto v = load<T>(key).value();
  return v ? std::move(*v) : InputCodec<T>::decode(nlohmann::json());
}

}  // namespace corvenza::graphql
