#include <corvenza/api_connector.h>

#include <nlohmann/json.hpp>

#include "platform/http/http_transport.h"

namespace corvenza {

namespace {

constexpr const char* kNotInCorrectFormat =
    "The data couldn\u2019t be read because it isn\u2019t in the correct format.";
constexpr const char* kMissing = "The data couldn\u2019t be read because it is missing.";

/// The object in @p json, or nothing with the reason in @p failure.
std::optional<nlohmann::json> parseObject(std::string_view json, std::string* failure) {
  auto parsed = nlohmann::json::parse(json, nullptr, false);
  if (parsed.is_discarded() || !parsed.is_object()) {
    if (failure != nullptr) *failure = kNotInCorrectFormat;
    return std::nullopt;
  }
  return parsed;
}

/// Reads a required string member; false with the reason in @p failure.
bool readRequired(const nlohmann::json& object, const char* key, std::string& out,
                  std::string* failure) {
  const auto found = object.find(key);
  if (found == object.end() || found->is_null()) {
    if (failure != nullptr) *failure = kMissing;
    return false;
  }
  if (!found->is_string()) {
    if (failure != nullptr) *failure = kNotInCorrectFormat;
    return false;
  }
  out = found->get<std::string>();
  return true;
}

/// Reads an optional string member; null and absent are both nothing.
bool readOptional(const nlohmann::json& object, const char* key, std::optional<std::string>& out,
                  std::string* failure) {
  const auto found = object.find(key);
  if (found == object.end() || found->is_null()) return true;
  if (!found->is_string()) {
    if (failure != nullptr) *failure = kNotInCorrectFormat;
    return false;
  }
  out = found->get<std::string>();
  return true;
}

}  // namespace

std::string_view rawValue(HTTPMethod method) noexcept {
  switch (method) {
    case HTTPMethod::get:
      return "GET";
    case HTTPMethod::post:
      return "POST";
    case HTTPMethod::put:
      return "PUT";
    case HTTPMethod::delete_:
      return "DELETE";
  }
  return "GET";
}

std::optional<HTTPMethod> httpMethodFromRawValue(std::string_view rawValue) noexcept {
  for (HTTPMethod method :
       {HTTPMethod::get, HTTPMethod::post, HTTPMethod::put, HTTPMethod::delete_}) {
    if (corvenza::rawValue(method) == rawValue) return method;
  }
  return std::nullopt;
}

std::optional<TestCodable> TestCodable::decode(std::string_view json, std::string* failure) {
  const auto object = parseObject(json, failure);
  if (!object) return std::nullopt;
  TestCodable record;
  if (!readRequired(*object, "message", record.message, failure) ||
      !readOptional(*object, "front_points", record.front_points, failure) ||
      !readOptional(*object, "side_points", record.side_points, failure)) {
    return std::nullopt;
  }
  return record;
}

std::string TestCodable::encode() const {
  nlohmann::json object{{"message", message}};
  if (front_points) object["front_points"] = *front_points;
  if (side_points) object["side_points"] = *side_points;
  return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<Input> Input::decode(std::string_view json, std::string* failure) {
  const auto object = parseObject(json, failure);
  if (!object) return std::nullopt;
  Input record;
  if (!readRequired(*object, "id", record.id, failure)) return std::nullopt;
  return record;
}

std::string Input::encode() const {
  return nlohmann::json{{"id", id}}.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string URLResponse::description() const {
  return "<URLResponse> { URL: " + url + " } { Status Code: " + std::to_string(statusCode) + " }";
}

}  // namespace corvenza
