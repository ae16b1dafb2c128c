#include "graphql/responses.h"

namespace corvenza::graphql {

S3Object::S3Object(std::string bucket, std::string key, std::string region)
    : ResponseObject("S3Object") {
  setBucket(std::move(bucket));
  setKey(std::move(key));
  setRegion(std::move(region));
}

ImageObject::ImageObject(const S3Object& location) : ResponseObject("S3Object") {
  fragments().setS3Object(location);
}

BodysizeEstimationMinimumOutput::BodysizeEstimationMinimumOutput(
    std::string id, std::int64_t createdAt, const BodysizeEstimationStatus& status, double weight,
    double height, std::int64_t age, const std::optional<Gender>& gender, std::string userId,
    std::optional<bool> failOnAutomaticEstimationFailure)
    : ResponseObject("BodysizeEstimation") {
  setId(std::move(id));
  setCreatedAt(createdAt);
  setStatus(status);
  setWeight(weight);
  setHeight(height);
  setAge(age);
  setGender(gender);
  setUserId(std::move(userId));
  setFailOnAutomaticEstimationFailure(failOnAutomaticEstimationFailure);
}

BodysizeEstimationIndexOutput::BodysizeEstimationIndexOutput(
    std::string id, std::int64_t createdAt, const BodysizeEstimationStatus& status,
    const std::optional<FrontImageThumb>& frontImageThumb,
    const std::optional<SideImageThumb>& sideImageThumb, std::string userId,
    std::optional<bool> failOnAutomaticEstimationFailure)
    : ResponseObject("BodysizeEstimation") {
  setId(std::move(id));
  setCreatedAt(createdAt);
  setStatus(status);
  setFrontImageThumb(frontImageThumb);
  setSideImageThumb(sideImageThumb);
  setUserId(std::move(userId));
  setFailOnAutomaticEstimationFailure(failOnAutomaticEstimationFailure);
}

BodysizeEstimation::BodysizeEstimation(std::string id, std::string userId, std::int64_t createdAt,
                                       const BodysizeEstimationStatus& status,
                                       const std::optional<Gender>& gender, std::int64_t age,
                                       double height, double weight)
    : ResponseObject("BodysizeEstimation") {
  setId(std::move(id));
  setUserId(std::move(userId));
  setCreatedAt(createdAt);
  setStatus(status);
  setGender(gender);
  setAge(age);
  setHeight(height);
  setWeight(weight);
  // Every nullable field starts as null so the snapshot has the full shape.
  for (const char* key : {"frontImageThumb",
                          "sideImageThumb",
                          "frontImage",
                          "sideImage",
                          "annotatedFrontImageThumb",
                          "annotatedSideImageThumb",
                          "annotatedFrontImage",
                          "annotatedSideImage",
                          "neckCircumference",
                          "shoulderWidth",
                          "bicepCircumference",
                          "sleeveLength",
                          "chestCircumference",
                          "waistCircumference",
                          "hipCircumference",
                          "wristCircumference",
                          "inseamLength",
                          "outseamLength",
                          "totalLength",
                          "highHipCircumference",
                          "midThighCircumference",
                          "thighCircumference",
                          "kneeCircumference",
                          "calfCircumference",
                          "backlength",
                          "underbust",
                          "failOnAutomaticEstimationFailure",
                          "errorCode"}) {
    snapshot.set(key, nullptr);
  }
}

GetBodysizeEstimation::GetBodysizeEstimation(const BodysizeEstimation& fragment)
    : ResponseObject("BodysizeEstimation") {
  fragments().setBodysizeEstimation(fragment);
}

MinimumOutputObject::MinimumOutputObject(const BodysizeEstimationMinimumOutput& fragment)
    : ResponseObject("BodysizeEstimation") {
  fragments().setBodysizeEstimationMinimumOutput(fragment);
}

ListBodysizeEstimation::Item::Item(const BodysizeEstimationIndexOutput& fragment)
    : ResponseObject("BodysizeEstimation") {
  fragments().setBodysizeEstimationIndexOutput(fragment);
}

ListBodysizeEstimation::ListBodysizeEstimation(const std::optional<Items>& items,
                                               std::optional<std::string> nextToken)
    : ResponseObject("BodysizeEstimationConnection") {
  setItems(items);
  setNextToken(std::move(nextToken));
}

std::optional<ListBodysizeEstimation::Items> ListBodysizeEstimation::items() const {
  auto list = snapshot.list("items");
  if (!list) return std::nullopt;
  Items out;
  out.reserve(list->size());
  for (auto& element : *list) {
    if (element) {
      out.emplace_back(Item(std::move(*element)));
    } else {
      out.emplace_back(std::nullopt);
    }
  }
  return out;
}

void ListBodysizeEstimation::setItems(const std::optional<Items>& items) {
  if (!items) {
    snapshot.set("items", nullptr);
    return;
  }
  SnapshotList list;
  list.reserve(items->size());
  for (const auto& item : *items) {
    list.push_back(item ? std::optional<Snapshot>(item->snapshot) : std::nullopt);
  }
  snapshot.set("items", std::move(list));
}

DeleteBodysizeEstimation::DeleteBodysizeEstimation(std::string id)
    : ResponseObject("BodysizeEstimation") {
  setId(std::move(id));
}

EstimationEvent::EstimationEvent(std::string id, const BodysizeEstimationStatus& status)
    : ResponseObject("BodysizeEstimation") {
  setId(std::move(id));
  setStatus(status);
}

}  // namespace corvenza::graphql
