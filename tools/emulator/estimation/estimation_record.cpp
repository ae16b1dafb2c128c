#include "estimation/estimation_record.h"

#include "estimation/estimation_fields.h"

namespace corvenza::emulator::estimation {

nlohmann::json toJson(const S3Location& location) {
  return {{"bucket", location.bucket}, {"key", location.key}, {"region", location.region}};
}

std::optional<S3Location> s3LocationFromJson(const nlohmann::json& json) {
  if (!json.is_object()) return std::nullopt;
  const auto text = [&json](const char* name) -> const nlohmann::json* {
    const auto it = json.find(name);
    return it != json.end() && it->is_string() ? &*it : nullptr;
  };
  const auto* bucket = text("bucket");
  const auto* key = text("key");
  const auto* region = text("region");
  if (!bucket || !key || !region) return std::nullopt;
  return S3Location{bucket->get<std::string>(), key->get<std::string>(),
                    region->get<std::string>()};
}

nlohmann::json toGraphQL(const EstimationRecord& record) {
  nlohmann::json out = {{"id", record.id},
                        {"userId", record.userId},
                        {"createdAt", record.createdAt},
                        {"status", record.status},
                        {"gender", nullptr},
                        {"age", record.age},
                        {"height", record.height},
                        {"weight", record.weight},
                        {"failOnAutomaticEstimationFailure", nullptr},
                        {"errorCode", nullptr}};
  if (record.gender) out["gender"] = *record.gender;
  if (record.failOnAutomaticEstimationFailure) {
    out["failOnAutomaticEstimationFailure"] = *record.failOnAutomaticEstimationFailure;
  }
  if (record.errorCode) out["errorCode"] = *record.errorCode;
  for (const char* field : kImageFields) {
    const auto it = record.images.find(field);
    out[field] = it == record.images.end() ? nlohmann::json() : toJson(it->second);
  }
  const auto number = [&record](const char* field) {
    const auto it = record.measurements.find(field);
    return it != record.measurements.end() && it->is_number() ? *it : nlohmann::json();
  };
  for (const char* field : kMeasurementFields) out[field] = number(field);
  for (const char* field : kProbabilityFields) out[field] = number(field);
  return out;
}

}  // namespace corvenza::emulator::estimation
