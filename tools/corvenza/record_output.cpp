#include "record_output.h"

#include <chrono>
#include <iomanip>
#include <sstream>
#include <utility>
#include <vector>

namespace corvenza::cli {

namespace {

using Measurement = std::pair<const char*, std::optional<double> EstimationResult::*>;

const std::vector<Measurement>& measurements() {
  static const std::vector<Measurement> list = {
      {"neckCircumference", &EstimationResult::neckCircumference},
      {"shoulderWidth", &EstimationResult::shoulderWidth},
      {"bicepCircumference", &EstimationResult::bicepCircumference},
      {"sleeveLength", &EstimationResult::sleeveLength},
      {"chestCircumference", &EstimationResult::chestCircumference},
      {"waistCircumference", &EstimationResult::waistCircumference},
      {"hipCircumference", &EstimationResult::hipCircumference},
      {"wristCircumference", &EstimationResult::wristCircumference},
      {"inseamLength", &EstimationResult::inseamLength},
      {"outseamLength", &EstimationResult::outseamLength},
      {"totalLength", &EstimationResult::totalLength},
      {"highHipCircumference", &EstimationResult::highHipCircumference},
      {"midThichCircumference", &EstimationResult::midThichCircumference},
      {"thighCircumference", &EstimationResult::thighCircumference},
      {"kneeCircumference", &EstimationResult::kneeCircumference},
      {"calfCircumference", &EstimationResult::calfCircumference},
      {"backLength", &EstimationResult::backLength},
      {"underBust", &EstimationResult::underBust},
  };
  return list;
}

template <typename T>
nlohmann::ordered_json orNull(const std::optional<T>& value) {
  return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json();
}

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
  nlohmann::ordered_json json;
  json["id"] = orNull(request.id);
  json["status"] = request.status ? nlohmann::ordered_json(request.status->rawValue()) : nullptr;
  json["height"] = orNull(request.height);
  json["weight"] = orNull(request.weight);
  json["age"] = orNull(request.age);
  json["gender"] = request.gender ? nlohmann::ordered_json(request.gender->rawValue()) : nullptr;
  json["createdAt"] = orNull(epochSeconds(request));
  json["failOnAutomaticEstimationFailure"] = orNull(request.failOnAutomaticEstimationFailure);
  json["errorCode"] = orNull(request.errorCode);
  json["frontImage"] = imageJson(request.frontImage);
  json["sideImage"] = imageJson(request.sideImage);
  json["frontImageThumb"] = imageJson(request.frontImageThumb);
  json["sideImageThumb"] = imageJson(request.sideImageThumb);
  if (request.result) {
    nlohmann::ordered_json result;
    for (const auto& [name, member] : measurements()) result[name] = orNull((*request.result).*member);
    json["result"] = std::move(result);
  } else {
    json["result"] = nullptr;
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
    for (const auto& [name, member] : measurements()) {
      out << "  " << std::left << std::setw(24) << name << std::right << std::setw(8)
          << std::fixed << std::setprecision(1);
      const auto& value = (*request.result).*member;
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
