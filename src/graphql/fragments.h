#pragma once
// Typed wrappers over response snapshots: the fragments and the image
// objects. A wrapper holds only its snapshot handle; reading a nested object
// or a fragment wraps the same data, nothing is copied.

#include <corvenza/estimation.h>
#include <corvenza/remote_image.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "graphql/snapshot.h"

namespace corvenza::graphql {

/// Shared plumbing of every wrapper. Getters of non-null fields answer a
/// neutral value ("" / 0 / unknown("")) on a snapshot that lacks the field,
/// which only a hand-made snapshot can; decoded ones are checked.
class ResponseObject {
 public:
  explicit ResponseObject(Snapshot snapshot) : snapshot(std::move(snapshot)) {}

  std::string typeName() const { return snapshot.string("__typename").value_or(""); }

  Snapshot snapshot;

 protected:
  /// A fresh snapshot holding "__typename" = @p typeName.
  explicit ResponseObject(std::string_view typeName) {
    snapshot.set("__typename", std::string(typeName));
  }

  std::string requiredString(std::string_view key) const {
    return snapshot.string(key).value_or("");
  }
  std::int64_t requiredInteger(std::string_view key) const {
    return snapshot.integer(key).value_or(0);
  }
  double requiredFloating(std::string_view key) const {
    return snapshot.floating(key).value_or(0.0);
  }
  BodysizeEstimationStatus statusField(std::string_view key) const {
    return BodysizeEstimationStatus::fromRawValue(requiredString(key));
  }
  std::optional<Gender> genderField(std::string_view key) const {
    auto raw = snapshot.string(key);
    if (!raw) return std::nullopt;
    return Gender::fromRawValue(std::move(*raw));
  }
  void setGenderField(std::string key, const std::optional<Gender>& gender) {
    snapshot.set(std::move(key), gender ? SnapshotValue(gender->rawValue()) : SnapshotValue());
  }
  template <typename Wrapper>
  std::optional<Wrapper> objectAs(std::string_view key) const {
    auto nested = snapshot.object(key);
    if (!nested) return std::nullopt;
    return Wrapper(std::move(*nested));
  }
  template <typename Wrapper>
  void setObject(std::string key, const std::optional<Wrapper>& value) {
    snapshot.set(std::move(key), value ? SnapshotValue(value->snapshot) : SnapshotValue());
  }
};

/// Fragment S3Object: where a stored photo lives.
class S3Object : public ResponseObject {
 public:
  static constexpr std::array<std::string_view, 1> possibleTypes = {"S3Object"};

  explicit S3Object(Snapshot snapshot) : ResponseObject(std::move(snapshot)) {}
  S3Object(std::string bucket, std::string key, std::string region);

  std::string bucket() const { return requiredString("bucket"); }
  void setBucket(std::string v) { snapshot.set("bucket", std::move(v)); }
  std::string key() const { return requiredString("key"); }
  void setKey(std::string v) { snapshot.set("key", std::move(v)); }
  std::string region() const { return requiredString("region"); }
  void setRegion(std::string v) { snapshot.set("region", std::move(v)); }

  // What the object-storage side asks of a stored object.
  std::string getBucketName() const { return bucket(); }
  std::string getKeyName() const { return key(); }
  std::string getRegion() const { return region(); }
  corvenza::S3Object location() const { return {bucket(), key(), region()}; }
};

/// An image field of an estimation: "__typename" plus fragment S3Object.
class ImageObject : public ResponseObject {
 public:
  static constexpr std::array<std::string_view, 1> possibleTypes = {"S3Object"};

  explicit ImageObject(Snapshot snapshot) : ResponseObject(std::move(snapshot)) {}
  explicit ImageObject(const S3Object& location);

  struct Fragments {
    Snapshot snapshot;
    S3Object s3Object() const { return S3Object(snapshot); }
    void setS3Object(const S3Object& fragment) { snapshot.merge(fragment.snapshot); }
  };
  Fragments fragments() const { return {snapshot}; }
};

// Every image field has the same shape; the names follow the fields.
using FrontImageThumb = ImageObject;
using SideImageThumb = ImageObject;
using FrontImage = ImageObject;
using SideImage = ImageObject;
using AnnotatedFrontImageThumb = ImageObject;
using AnnotatedSideImageThumb = ImageObject;
using AnnotatedFrontImage = ImageObject;
using AnnotatedSideImage = ImageObject;

/// Fragment BodysizeEstimationMinimumOutput: what create, update and the
/// attach mutations return.
class BodysizeEstimationMinimumOutput : public ResponseObject {
 public:
  static constexpr std::array<std::string_view, 1> possibleTypes = {"BodysizeEstimation"};

  explicit BodysizeEstimationMinimumOutput(Snapshot snapshot)
      : ResponseObject(std::move(snapshot)) {}
  BodysizeEstimationMinimumOutput(std::string id, std::int64_t createdAt,
                                  const BodysizeEstimationStatus& status, double weight,
                                  double height, std::int64_t age,
                                  const std::optional<Gender>& gender, std::string userId,
                                  std::optional<bool> failOnAutomaticEstimationFailure);

  std::string id() const { return requiredString("id"); }
  void setId(std::string v) { snapshot.set("id", std::move(v)); }
  std::int64_t createdAt() const { return requiredInteger("createdAt"); }
  void setCreatedAt(std::int64_t v) { snapshot.set("createdAt", v); }
  BodysizeEstimationStatus status() const { return statusField("status"); }
  void setStatus(const BodysizeEstimationStatus& v) { snapshot.set("status", v.rawValue()); }
  double weight() const { return requiredFloating("weight"); }
  void setWeight(double v) { snapshot.set("weight", v); }
  double height() const { return requiredFloating("height"); }
  void setHeight(double v) { snapshot.set("height", v); }
  std::int64_t age() const { return requiredInteger("age"); }
  void setAge(std::int64_t v) { snapshot.set("age", v); }
  std::optional<Gender> gender() const { return genderField("gender"); }
  void setGender(const std::optional<Gender>& v) { setGenderField("gender", v); }
  std::string userId() const { return requiredString("userId"); }
  void setUserId(std::string v) { snapshot.set("userId", std::move(v)); }
  std::optional<bool> failOnAutomaticEstimationFailure() const {
    return snapshot.boolean("failOnAutomaticEstimationFailure");
  }
  void setFailOnAutomaticEstimationFailure(std::optional<bool> v) {
    snapshot.set("failOnAutomaticEstimationFailure", v);
  }
};

/// Fragment BodysizeEstimationIndexOutput: one item of the list query.
class BodysizeEstimationIndexOutput : public ResponseObject {
 public:
  static constexpr std::array<std::string_view, 1> possibleTypes = {"BodysizeEstimation"};

  explicit BodysizeEstimationIndexOutput(Snapshot snapshot) : ResponseObject(std::move(snapshot)) {}
  BodysizeEstimationIndexOutput(std::string id, std::int64_t createdAt,
                                const BodysizeEstimationStatus& status,
                                const std::optional<FrontImageThumb>& frontImageThumb,
                                const std::optional<SideImageThumb>& sideImageThumb,
                                std::string userId,
                                std::optional<bool> failOnAutomaticEstimationFailure);

  std::string id() const { return requiredString("id"); }
  void setId(std::string v) { snapshot.set("id", std::move(v)); }
  std::int64_t createdAt() const { return requiredInteger("createdAt"); }
  void setCreatedAt(std::int64_t v) { snapshot.set("createdAt", v); }
  BodysizeEstimationStatus status() const { return statusField("status"); }
  void setStatus(const BodysizeEstimationStatus& v) { snapshot.set("status", v.rawValue()); }
  std::optional<FrontImageThumb> frontImageThumb() const {
    return objectAs<FrontImageThumb>("frontImageThumb");
  }
  void setFrontImageThumb(const std::optional<FrontImageThumb>& v) {
    setObject("frontImageThumb", v);
  }
  std::optional<SideImageThumb> sideImageThumb() const {
    return objectAs<SideImageThumb>("sideImageThumb");
  }
  void setSideImageThumb(const std::optional<SideImageThumb>& v) { setObject("sideImageThumb", v); }
  std::string userId() const { return requiredString("userId"); }
  void setUserId(std::string v) { snapshot.set("userId", std::move(v)); }
  std::optional<bool> failOnAutomaticEstimationFailure() const {
    return snapshot.boolean("failOnAutomaticEstimationFailure");
  }
  void setFailOnAutomaticEstimationFailure(std::optional<bool> v) {
    snapshot.set("failOnAutomaticEstimationFailure", v);
  }
};

/// Fragment BodysizeEstimation: the full estimation returned by the get query.
/// The constructor takes the non-null fields and sets every nullable one to
/// null; the setters fill the rest.
class BodysizeEstimation : public ResponseObject {
 public:
  static constexpr std::array<std::string_view, 1> possibleTypes = {"BodysizeEstimation"};

  explicit BodysizeEstimation(Snapshot snapshot) : ResponseObject(std::move(snapshot)) {}
  BodysizeEstimation(std::string id, std::string userId, std::int64_t createdAt,
                     const BodysizeEstimationStatus& status, const std::optional<Gender>& gender,
                     std::int64_t age, double height, double weight);

  std::string id() const { return requiredString("id"); }
  void setId(std::string v) { snapshot.set("id", std::move(v)); }
  std::string userId() const { return requiredString("userId"); }
  void setUserId(std::string v) { snapshot.set("userId", std::move(v)); }
  std::int64_t createdAt() const { return requiredInteger("createdAt"); }
  void setCreatedAt(std::int64_t v) { snapshot.set("createdAt", v); }
  BodysizeEstimationStatus status() const { return statusField("status"); }
  void setStatus(const BodysizeEstimationStatus& v) { snapshot.set("status", v.rawValue()); }
  std::optional<Gender> gender() const { return genderField("gender"); }
  void setGender(const std::optional<Gender>& v) { setGenderField("gender", v); }
  std::int64_t age() const { return requiredInteger("age"); }
  void setAge(std::int64_t v) { snapshot.set("age", v); }
  double height() const { return requiredFloating("height"); }
  void setHeight(double v) { snapshot.set("height", v); }
  double weight() const { return requiredFloating("weight"); }
  void setWeight(double v) { snapshot.set("weight", v); }
  // Images (null when the photo is not stored).
  std::optional<FrontImageThumb> frontImageThumb() const {
    return objectAs<FrontImageThumb>("frontImageThumb");
  }
  void setFrontImageThumb(const std::optional<FrontImageThumb>& v) {
    setObject("frontImageThumb", v);
  }
  std::optional<SideImageThumb> sideImageThumb() const {
    return objectAs<SideImageThumb>("sideImageThumb");
  }
  void setSideImageThumb(const std::optional<SideImageThumb>& v) { setObject("sideImageThumb", v); }
  std::optional<FrontImage> frontImage() const { return objectAs<FrontImage>("frontImage"); }
  void setFrontImage(const std::optional<FrontImage>& v) { setObject("frontImage", v); }
  std::optional<SideImage> sideImage() const { return objectAs<SideImage>("sideImage"); }
  void setSideImage(const std::optional<SideImage>& v) { setObject("sideImage", v); }
  std::optional<AnnotatedFrontImageThumb> annotatedFrontImageThumb() const {
    return objectAs<AnnotatedFrontImageThumb>("annotatedFrontImageThumb");
  }
  void setAnnotatedFrontImageThumb(const std::optional<AnnotatedFrontImageThumb>& v) {
    setObject("annotatedFrontImageThumb", v);
  }
  std::optional<AnnotatedSideImageThumb> annotatedSideImageThumb() const {
    return objectAs<AnnotatedSideImageThumb>("annotatedSideImageThumb");
  }
  void setAnnotatedSideImageThumb(const std::optional<AnnotatedSideImageThumb>& v) {
    setObject("annotatedSideImageThumb", v);
  }
  std::optional<AnnotatedFrontImage> annotatedFrontImage() const {
    return objectAs<AnnotatedFrontImage>("annotatedFrontImage");
  }
  void setAnnotatedFrontImage(const std::optional<AnnotatedFrontImage>& v) {
    setObject("annotatedFrontImage", v);
  }
  std::optional<AnnotatedSideImage> annotatedSideImage() const {
    return objectAs<AnnotatedSideImage>("annotatedSideImage");
  }
  void setAnnotatedSideImage(const std::optional<AnnotatedSideImage>& v) {
    setObject("annotatedSideImage", v);
  }
  // Measurements as the service reports them.
  std::optional<double> neckCircumference() const { return snapshot.floating("neckCircumference"); }
  void setNeckCircumference(std::optional<double> v) { snapshot.set("neckCircumference", v); }
  std::optional<double> shoulderWidth() const { return snapshot.floating("shoulderWidth"); }
  void setShoulderWidth(std::optional<double> v) { snapshot.set("shoulderWidth", v); }
  std::optional<double> bicepCircumference() const {
    return snapshot.floating("bicepCircumference");
  }
  void setBicepCircumference(std::optional<double> v) { snapshot.set("bicepCircumference", v); }
  std::optional<double> sleeveLength() const { return snapshot.floating("sleeveLength"); }
  void setSleeveLength(std::optional<double> v) { snapshot.set("sleeveLength", v); }
  std::optional<double> chestCircumference() const {
    return snapshot.floating("chestCircumference");
  }
  void setChestCircumference(std::optional<double> v) { snapshot.set("chestCircumference", v); }
  std::optional<double> waistCircumference() const {
    return snapshot.floating("waistCircumference");
  }
  void setWaistCircumference(std::optional<double> v) { snapshot.set("waistCircumference", v); }
  std::optional<double> hipCircumference() const { return snapshot.floating("hipCircumference"); }
  void setHipCircumference(std::optional<double> v) { snapshot.set("hipCircumference", v); }
  std::optional<double> wristCircumference() const {
    return snapshot.floating("wristCircumference");
  }
  void setWristCircumference(std::optional<double> v) { snapshot.set("wristCircumference", v); }
  std::optional<double> inseamLength() const { return snapshot.floating("inseamLength"); }
  void setInseamLength(std::optional<double> v) { snapshot.set("inseamLength", v); }
  std::optional<double> outseamLength() const { return snapshot.floating("outseamLength"); }
  void setOutseamLength(std::optional<double> v) { snapshot.set("outseamLength", v); }
  std::optional<double> totalLength() const { return snapshot.floating("totalLength"); }
  void setTotalLength(std::optional<double> v) { snapshot.set("totalLength", v); }
  std::optional<double> highHipCircumference() const {
    return snapshot.floating("highHipCircumference");
  }
  void setHighHipCircumference(std::optional<double> v) { snapshot.set("highHipCircumference", v); }
  std::optional<double> midThighCircumference() const {
    return snapshot.floating("midThighCircumference");
  }
  void setMidThighCircumference(std::optional<double> v) {
    snapshot.set("midThighCircumference", v);
  }
  std::optional<double> thighCircumference() const {
    return snapshot.floating("thighCircumference");
  }
  void setThighCircumference(std::optional<double> v) { snapshot.set("thighCircumference", v); }
  std::optional<double> kneeCircumference() const { return snapshot.floating("kneeCircumference"); }
  void setKneeCircumference(std::optional<double> v) { snapshot.set("kneeCircumference", v); }
  std::optional<double> calfCircumference() const { return snapshot.floating("calfCircumference"); }
  void setCalfCircumference(std::optional<double> v) { snapshot.set("calfCircumference", v); }
  std::optional<double> backlength() const { return snapshot.floating("backlength"); }
  void setBacklength(std::optional<double> v) { snapshot.set("backlength", v); }
  std::optional<double> underbust() const { return snapshot.floating("underbust"); }
  void setUnderbust(std::optional<double> v) { snapshot.set("underbust", v); }
  // Hit-zone probabilities.
  std::optional<std::int64_t> probabilityOfBicepCircumferenceInHitZone() const {
    return snapshot.integer("probabilityOfBicepCircumferenceInHitZone");
  }
  void setProbabilityOfBicepCircumferenceInHitZone(std::optional<std::int64_t> v) {
    snapshot.set("probabilityOfBicepCircumferenceInHitZone", v);
  }
  std::optional<std::int64_t> probabilityOfCalfCircumferenceInHitZone() const {
    return snapshot.integer("probabilityOfCalfCircumferenceInHitZone");
  }
  void setProbabilityOfCalfCircumferenceInHitZone(std::optional<std::int64_t> v) {
    snapshot.set("probabilityOfCalfCircumferenceInHitZone", v);
  }
  std::optional<std::int64_t> probabilityOfChestCircumferenceInHitZone() const {
    return snapshot.integer("probabilityOfChestCircumferenceInHitZone");
  }
  void setProbabilityOfChestCircumferenceInHitZone(std::optional<std::int64_t> v) {
    snapshot.set("probabilityOfChestCircumferenceInHitZone", v);
  }
  std::optional<std::int64_t> probabilityOfHighHipCircumferenceInHitZone() const {
    return snapshot.integer("probabilityOfHighHipCircumferenceInHitZone");
  }
  void setProbabilityOfHighHipCircumferenceInHitZone(std::optional<std::int64_t> v) {
    snapshot.set("probabilityOfHighHipCircumferenceInHitZone", v);
  }
  std::optional<std::int64_t> probabilityOfHipCircumferenceInHitZone() const {
    return snapshot.integer("probabilityOfHipCircumferenceInHitZone");
  }
  void setProbabilityOfHipCircumferenceInHitZone(std::optional<std::int64_t> v) {
    snapshot.set("probabilityOfHipCircumferenceInHitZone", v);
  }
  std::optional<std::int64_t> probabilityOfInseamLengthInHitZone() const {
    return snapshot.integer("probabilityOfInseamLengthInHitZone");
  }
  void setProbabilityOfInseamLengthInHitZone(std::optional<std::int64_t> v) {
    snapshot.set("probabilityOfInseamLengthInHitZone", v);
  }
  std::optional<std::int64_t> probabilityOfKneeCircumferenceInHitZone() const {
    return snapshot.integer("probabilityOfKneeCircumferenceInHitZone");
  }
  void setProbabilityOfKneeCircumferenceInHitZone(std::optional<std::int64_t> v) {
    snapshot.set("probabilityOfKneeCircumferenceInHitZone", v);
  }
  std::optional<std::int64_t> probabilityOfMidThighCircumferenceInHitZone() const {
    return snapshot.integer("probabilityOfMidThighCircumferenceInHitZone");
  }
  void setProbabilityOfMidThighCircumferenceInHitZone(std::optional<std::int64_t> v) {
    snapshot.set("probabilityOfMidThighCircumferenceInHitZone", v);
  }
  std::optional<std::int64_t> probabilityOfNeckCircumferenceInHitZone() const {
    return snapshot.integer("probabilityOfNeckCircumferenceInHitZone");
  }
  void setProbabilityOfNeckCircumferenceInHitZone(std::optional<std::int64_t> v) {
    snapshot.set("probabilityOfNeckCircumferenceInHitZone", v);
  }
  std::optional<std::int64_t> probabilityOfOutseamLengthInHitZone() const {
    return snapshot.integer("probabilityOfOutseamLengthInHitZone");
  }
  void setProbabilityOfOutseamLengthInHitZone(std::optional<std::int64_t> v) {
    snapshot.set("probabilityOfOutseamLengthInHitZone", v);
  }
  std::optional<std::int64_t> probabilityOfShoulderWidthInHitZone() const {
    return snapshot.integer("probabilityOfShoulderWidthInHitZone");
  }
  void setProbabilityOfShoulderWidthInHitZone(std::optional<std::int64_t> v) {
    snapshot.set("probabilityOfShoulderWidthInHitZone", v);
  }
  std::optional<std::int64_t> probabilityOfSleeveLengthInHitZone() const {
    return snapshot.integer("probabilityOfSleeveLengthInHitZone");
  }
  void setProbabilityOfSleeveLengthInHitZone(std::optional<std::int64_t> v) {
    snapshot.set("probabilityOfSleeveLengthInHitZone", v);
  }
  std::optional<std::int64_t> probabilityOfThighCircumferenceInHitZone() const {
    return snapshot.integer("probabilityOfThighCircumferenceInHitZone");
  }
  void setProbabilityOfThighCircumferenceInHitZone(std::optional<std::int64_t> v) {
    snapshot.set("probabilityOfThighCircumferenceInHitZone", v);
  }
  std::optional<std::int64_t> probabilityOfTotalLengthInHitZone() const {
    return snapshot.integer("probabilityOfTotalLengthInHitZone");
  }
  void setProbabilityOfTotalLengthInHitZone(std::optional<std::int64_t> v) {
    snapshot.set("probabilityOfTotalLengthInHitZone", v);
  }
  std::optional<std::int64_t> probabilityOfWaistCircumferenceInHitZone() const {
    return snapshot.integer("probabilityOfWaistCircumferenceInHitZone");
  }
  void setProbabilityOfWaistCircumferenceInHitZone(std::optional<std::int64_t> v) {
    snapshot.set("probabilityOfWaistCircumferenceInHitZone", v);
  }
  std::optional<std::int64_t> probabilityOfWristCircumferenceInHitZone() const {
    return snapshot.integer("probabilityOfWristCircumferenceInHitZone");
  }
  void setProbabilityOfWristCircumferenceInHitZone(std::optional<std::int64_t> v) {
    snapshot.set("probabilityOfWristCircumferenceInHitZone", v);
  }
  std::optional<bool> failOnAutomaticEstimationFailure() const {
    return snapshot.boolean("failOnAutomaticEstimationFailure");
  }
  void setFailOnAutomaticEstimationFailure(std::optional<bool> v) {
    snapshot.set("failOnAutomaticEstimationFailure", v);
  }
  std::optional<std::string> errorCode() const { return snapshot.string("errorCode"); }
  void setErrorCode(std::optional<std::string> v) { snapshot.set("errorCode", std::move(v)); }
};

}  // namespace corvenza::graphql
