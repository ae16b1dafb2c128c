#pragma once
/// @file
/// The records exchanged with the application: what it supplies to create a
/// request (EstimationParameter), what the service holds (EstimationRequest)
/// and the measurements of a finished request (EstimationResult), plus the two
/// enumerations whose raw texts travel on the wire.

#include <corvenza/image.h>
#include <corvenza/remote_image.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace corvenza {

/// A person's gender as the service spells it. Any text the service sends is
/// kept: texts other than "female" and "male" become unknown(text).
/// A value type; equality compares the case and, for unknown, the text.
class Gender {
 public:
  enum class Case { female, male, unknown };

  static Gender female() { return Gender(Case::female, "female"); }
  static Gender male() { return Gender(Case::male, "male"); }
  /// The unknown case carrying @p text unchanged, whatever it holds.
  static Gender unknown(std::string text) { return Gender(Case::unknown, std::move(text)); }
  /// The named case whose raw text equals @p rawValue exactly (case-sensitive),
  /// else unknown(rawValue). Never fails.
  static Gender fromRawValue(std::string rawValue);
  explicit Gender(std::string rawValue) : Gender(fromRawValue(std::move(rawValue))) {}

  Case kind() const noexcept { return case_; }
  /// The wire text: the case's name, or the text an unknown value carries.
  const std::string& rawValue() const noexcept { return raw_; }

  friend bool operator==(const Gender&, const Gender&) = default;

 private:
  Gender(Case c, std::string raw) : case_(c), raw_(std::move(raw)) {}
  Case case_;
  std::string raw_;
};

/// The processing state of an estimation request. Texts other than the five
/// named ones become unknown(text), compared case-sensitively.
/// A value type; equality compares the case and, for unknown, the text.
class BodysizeEstimationStatus {
 public:
  enum class Case {
    requested,
    pendingAutomaticEstimation,
    pendingManualEstimation,
    completed,
    failed,
    unknown
  };

  static BodysizeEstimationStatus requested() { return {Case::requested, "requested"}; }
  static BodysizeEstimationStatus pendingAutomaticEstimation() {
    return {Case::pendingAutomaticEstimation, "pendingAutomaticEstimation"};
  }
  static BodysizeEstimationStatus pendingManualEstimation() {
    return {Case::pendingManualEstimation, "pendingManualEstimation"};
  }
  static BodysizeEstimationStatus completed() { return {Case::completed, "completed"}; }
  static BodysizeEstimationStatus failed() { return {Case::failed, "failed"}; }
  static BodysizeEstimationStatus unknown(std::string text) {
    return {Case::unknown, std::move(text)};
  }
  /// The named case whose raw text equals @p rawValue exactly, else unknown(rawValue).
  static BodysizeEstimationStatus fromRawValue(std::string rawValue);
  explicit BodysizeEstimationStatus(std::string rawValue)
      : BodysizeEstimationStatus(fromRawValue(std::move(rawValue))) {}

  Case kind() const noexcept { return case_; }
  const std::string& rawValue() const noexcept { return raw_; }

  friend bool operator==(const BodysizeEstimationStatus&,
                         const BodysizeEstimationStatus&) = default;

 private:
  BodysizeEstimationStatus(Case c, std::string raw) : case_(c), raw_(std::move(raw)) {}
  Case case_;
  std::string raw_;
};

/// What the application supplies to create (or update) a request.
/// Plain fields; nothing is checked on assignment.
struct EstimationParameter {
  double heightInCm = 0;  ///< centimetres
  std::shared_ptr<const Image> frontImage;
  std::shared_ptr<const Image> sideImage;
  std::optional<Gender> gender = Gender::male();
  double weightInKg = 0;  ///< kilograms
  int age = 0;            ///< years
  bool failOnAutomaticEstimationFailure = false;

  /// True exactly when both photos are present, heightInCm > 0,
  /// weightInKg > 0 and age >= 0. A NaN height or weight fails.
  /// The library's own operations never call it.
  bool validate() const;

  /// Drops both photos, sets gender to male and height, weight and age to 0.
  /// failOnAutomaticEstimationFailure keeps its value.
  void clear();
};

/// The eighteen body measurements of a completed request, copied unchanged
/// from the service (centimetres as the service reports them). A measurement
/// the service left null is absent.
struct EstimationResult {
  std::optional<double> bicepCircumference;
  std::optional<double> calfCircumference;
  std::optional<double> chestCircumference;
  std::optional<double> hipCircumference;
  std::optional<double> highHipCircumference;
  std::optional<double> neckCircumference;
  std::optional<double> shoulderWidth;
  std::optional<double> sleeveLength;
  std::optional<double> thighCircumference;
  std::optional<double> midThichCircumference;  ///< "midThighCircumference" on the wire
  std::optional<double> kneeCircumference;
  std::optional<double> outseamLength;
  std::optional<double> inseamLength;
  std::optional<double> totalLength;
  std::optional<double> waistCircumference;
  std::optional<double> wristCircumference;
  std::optional<double> underBust;   ///< "underbust" on the wire
  std::optional<double> backLength;  ///< "backlength" on the wire
  /// Never filled by the library.
  std::optional<std::string> errorCode;
};

/// An estimation request as the service holds it.
///
/// The library fills records from service responses and hands them to the
/// application as std::shared_ptr<EstimationRequest>; it keeps no copy and
/// never changes a record afterwards, so the application owns it. A default
/// constructed record has every field absent. Which fields a record carries
/// depends on the operation that produced it: only a read of one request
/// (get) carries full-size images, a result or an error code; a listed
/// request carries thumbnails only; create and update carry no images;
/// delete and subscription events carry the identifier (and the status).
struct EstimationRequest {
  std::optional<std::string> id;
  std::optional<BodysizeEstimationStatus> status;
  std::optional<double> height;  ///< centimetres
  std::optional<double> weight;  ///< kilograms
  std::optional<int> age;        ///< years
  std::optional<Gender> gender;
  /// Whole seconds since 1970-01-01 00:00:00 UTC as the service sent them.
  std::optional<std::chrono::system_clock::time_point> createdAt;
  std::shared_ptr<RemoteImageProxy> frontImage;
  std::shared_ptr<RemoteImageProxy> sideImage;
  std::shared_ptr<RemoteImageProxy> frontImageThumb;
  std::shared_ptr<RemoteImageProxy> sideImageThumb;
  std::optional<bool> failOnAutomaticEstimationFailure;
  /// The service's failure code; only for failed requests.
  std::optional<std::string> errorCode;
  /// The measurements; only for completed requests.
  std::shared_ptr<EstimationResult> result;
};

}  // namespace corvenza

template <>
struct std::hash<corvenza::Gender> {
  std::size_t operator()(const corvenza::Gender& g) const noexcept {
    return std::hash<std::string>{}(g.rawValue()) ^ static_cast<std::size_t>(g.kind());
  }
};

template <>
struct std::hash<corvenza::BodysizeEstimationStatus> {
  std::size_t operator()(const corvenza::BodysizeEstimationStatus& s) const noexcept {
    return std::hash<std::string>{}(s.rawValue()) ^ static_cast<std::size_t>(s.kind());
  }
};
