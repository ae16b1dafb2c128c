#pragma once
// One estimation request as the emulator keeps it, and its GraphQL form.

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace corvenza::emulator::estimation {

/// Where an object lives in the bucket.
struct S3Location {
  std::string bucket;
  std::string key;
  std::string region;

  friend bool operator==(const S3Location&, const S3Location&) = default;
};

/// Status texts as they travel on the wire.
inline constexpr const char* kStatusRequested = "requested";
inline constexpr const char* kStatusPendingAutomatic = "pendingAutomaticEstimation";
inline constexpr const char* kStatusPendingManual = "pendingManualEstimation";
inline constexpr const char* kStatusCompleted = "completed";
inline constexpr const char* kStatusFailed = "failed";

struct EstimationRecord {
  std::string id;
  /// The identity id of the caller that created the request; its only owner.
  std::string userId;
  /// Seconds since 1970-01-01 UTC.
  std::int64_t createdAt = 0;
  std::string status = kStatusRequested;
  std::optional<std::string> gender;
  int age = 0;
  /// Centimetres.
  double height = 0;
  /// Kilograms.
  double weight = 0;
  std::optional<bool> failOnAutomaticEstimationFailure;
  std::optional<std::string> errorCode;
  /// Image field name ("frontImage", "sideImageThumb", ...) to location.
  std::map<std::string, S3Location> images;
  /// Measurement and probability field names to numbers; absent ones are null.
  nlohmann::json measurements = nlohmann::json::object();
};

/// Every field of the schema's BodysizeEstimation, null where absent.
nlohmann::json toGraphQL(const EstimationRecord& record);

nlohmann::json toJson(const S3Location& location);
/// Nothing unless @p json holds the three strings.
std::optional<S3Location> s3LocationFromJson(const nlohmann::json& json);

}  // namespace corvenza::emulator::estimation
