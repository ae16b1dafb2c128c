#include "graphql/inputs.h"

#include <cctype>
#include <string_view>

#include "platform/file_uri.h"

namespace corvenza::graphql {

nlohmann::json InputObject::toJson() const {
  nlohmann::json out = nlohmann::json::object();
  for (const auto& [key, value] : map_) {
    if (!value.isGiven()) continue;
    out[key] = value.isNull() ? nlohmann::json() : *value.value();
  }
  return out;
}

void InputObject::assignFromJson(const nlohmann::json& object) {
  map_.clear();
  if (!object.is_object()) return;
  for (const auto& [key, value] : object.items()) {
    map_[key] =
        value.is_null() ? InputValue<nlohmann::json>::null() : InputValue<nlohmann::json>(value);
  }
}

CreateBodysizeEstimationInput::CreateBodysizeEstimationInput(
    std::int64_t age, InputValue<bool> failOnAutomaticEstimationFailure, InputValue<Gender> gender,
    double height, double weight) {
  setAge(age);
  setFailOnAutomaticEstimationFailure(std::move(failOnAutomaticEstimationFailure));
  setGender(std::move(gender));
  setHeight(height);
  setWeight(weight);
}

UpdateBodysizeEstimationInput::UpdateBodysizeEstimationInput(
    InputValue<std::int64_t> age, InputValue<bool> failOnAutomaticEstimationFailure,
    InputValue<Gender> gender, InputValue<double> height, std::string id,
    InputValue<double> weight) {
  setAge(age);
  setFailOnAutomaticEstimationFailure(failOnAutomaticEstimationFailure);
  setGender(std::move(gender));
  setHeight(height);
  setId(std::move(id));
  setWeight(weight);
}

DeleteBodysizeEstimationInput::DeleteBodysizeEstimationInput(InputValue<std::int64_t> createdAt,
                                                             std::string id) {
  setCreatedAt(createdAt);
  setId(std::move(id));
}

S3ObjectInput::S3ObjectInput(std::string bucket, std::string key, std::string localUri,
                             std::string mimeType, std::string region) {
  setBucket(std::move(bucket));
  setKey(std::move(key));
  setLocalUri(std::move(localUri));
  setMimeType(std::move(mimeType));
  setRegion(std::move(region));
}

namespace {

bool isHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

bool isURLCharacter(char c) {
  if (std::isalnum(static_cast<unsigned char>(c))) return true;
  return std::string_view("-._~:/?#[]@!$&'()*+,;=").find(c) != std::string_view::npos;
}

}  // namespace

bool isAbsoluteURL(std::string_view text) {
  auto colon = text.find(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  if (!std::isalpha(static_cast<unsigned char>(text[0]))) return false;
  for (std::size_t i = 1; i < colon; ++i) {
    char c = text[i];
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') {
      return false;
    }
  }
  for (std::size_t i = colon + 1; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%') {
      if (i + 2 >= text.size()) return false;
      if (!isHex(text[i + 1]) || !isHex(text[i + 2])) return false;
      i += 2;
    } else if (!isURLCharacter(c)) {
      return false;
    }
  }
  return true;
}

std::optional<std::string> S3ObjectInput::getLocalSourceFileURL() const {
  std::string uri = localUri();
  if (isAbsoluteURL(uri)) return uri;
  // The library writes plain paths; as a URL they are "file:" URLs.
  auto path = detail::localFilePath(uri);
  if (!path || !path->is_absolute()) return std::nullopt;
  return detail::fileUrlFor(*path);
}

std::optional<std::filesystem::path> S3ObjectInput::localSourceFilePath() const {
  return detail::localFilePath(localUri());
}

}  // namespace corvenza::graphql
