#include "record_output.h"

#include <corvenza/estimation_fields.h>

#include <chrono>
#include <iomanip>
#include <sstream>
#include <utility>
#include <vector>

namespace corvenza::cli {

namespace {

nlohmann::ordered_json imageJson(const std::shared_ptr<RemoteImageProxy>& image) {
  if (!image) return nullptr;
  auto location = image->s3Object();
  if (!location) return nullptr;
  return {{"bucket", location->getBucketName()},
          {"key", location->getKeyName()},
          {"region", location->getRegion()}};
}

std::optional<long long> epochSeconds(const EstimationRequest& request) {
  if (!request.createdAt) return std::nullopt;
  return std::chrono::duration_cast<std::chrono::seconds>(request.createdAt->time_since_epoch())
      .count();
}

}  // namespace

nlohmann::ordered_json recordJson(const EstimationRequest& request) {
  // Only what the record holds: a list item carries fewer fields than a read,
  // and a field it never carried is not null.
  nlohmann::ordered_json json = nlohmann::ordered_json::object();
  auto put = [&json](const char* name, const auto& value) {
    if (value) json[name] = *value;
  };
  put("id", request.id);
  if (request.status) json["status"] = request.status->rawValue();
  put("height", request.height);
  put("weight", request.weight);
  put("age", request.age);
  if (request.gender) json["gender"] = request.gender->rawValue();
  put("createdAt", epochSeconds(request));
  put("failOnAutomaticEstimationFailure", request.failOnAutomaticEstimationFailure);
  put("errorCode", request.errorCode);
  for (const auto& [name, image] :
       {std::pair{"frontImage", request.frontImage}, std::pair{"sideImage", request.sideImage},
        std::pair{"frontImageThumb", request.frontImageThumb},
        std::pair{"sideImageThumb", request.sideImageThumb}}) {
    if (auto location = imageJson(image); !location.is_null()) json[name] = std::move(location);
  }
  if (request.result) {
    nlohmann::ordered_json result = nlohmann::ordered_json::object();
    for (const auto& field : kMeasurementFields) {
      if (const auto& value = (*request.result).*field.member) {
        result[std::string(field.recordName)] = *value;
      }
    }
    json["result"] = std::move(result);
  }
  return json;
}

void printRecord(std::ostream& out, const EstimationRequest& request) {
  auto text = [](const auto& value) -> std::string {
    if (!value) return "-";
    std::ostringstream s;
    s << *value;
    return s.str();
  };
  out << "id:        " << request.id.value_or("-") << "\n"
      << "status:    " << (request.status ? request.status->rawValue() : "-") << "\n"
      << "height:    " << text(request.height) << " cm\n"
      << "weight:    " << text(request.weight) << " kg\n"
      << "age:       " << text(request.age) << "\n"
      << "gender:    " << (request.gender ? request.gender->rawValue() : "-") << "\n"
      << "createdAt: " << text(epochSeconds(request)) << "\n";
  if (request.errorCode) out << "errorCode: " << *request.errorCode << "\n";
  if (request.result) {
    out << "measurements (cm):\n";
    for (const auto& field : kMeasurementFields) {
      out << "  " << std::left << std::setw(24) << field.recordName << std::right << std::setw(8)
          << std::fixed << std::setprecision(1);
      const auto& value = (*request.result).*field.member;
      if (value) {
        out << *value;
      } else {
        out << "-";
      }
      out << "\n";
      out.unsetf(std::ios::floatfield);
    }
  }
}

}  // namespace corvenza::cli
