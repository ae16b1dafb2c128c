#include <corvenza/enterprise.h>

namespace corvenza {

std::string CorvenzaEnterprise::rawValue(EstimationImageType type) {
  switch (type) {
    case EstimationImageType::front:
      return "front.jpg";
    case EstimationImageType::side:
      return "side.jpg";
    case EstimationImageType::annotated_front:
      return "annotated_front_image.jpg";
    case EstimationImageType::annotated_side:
      return "annotated_side_image.jpg";
  }
  return {};
}

std::optional<CorvenzaEnterprise::EstimationImageType> CorvenzaEnterprise::estimationImageType(
    std::string_view rawValue) {
  for (auto type : {EstimationImageType::front, EstimationImageType::side,
                    EstimationImageType::annotated_front, EstimationImageType::annotated_side}) {
    if (CorvenzaEnterprise::rawValue(type) == rawValue) return type;
  }
  return std::nullopt;
}

bool CorvenzaEnterprise::getS3Image(const std::string& requestId, EstimationImageType dir,
                                    std::function<void(std::optional<std::string>)> completion) {
  // Only makes sure the shared instance exists; the operation never links.
  return shared().getEstimationImageURL(requestId, dir, std::move(completion));
}

bool CorvenzaEnterprise::Instance::getEstimationImageURL(
    const std::string&, EstimationImageType, std::function<void(std::optional<std::string>)>) {
  return false;
}

}  // namespace corvenza
