#pragma once
/// @file
/// The fields of an estimation in one table: for each measurement the name
/// it has on the wire, the name of its record member, words for people, the
/// member itself, and whether the list filter can compare it. The library
/// builds records and the list filter from it, and an application may print
/// a result with it:
///
///     for (const auto& field : corvenza::kMeasurementFields)
///       if (auto cm = result.*field.member) std::cout << field.label << ": " << *cm << "\n";

#include <corvenza/estimation.h>

#include <array>
#include <optional>
#include <string_view>

namespace corvenza {

struct MeasurementField {
  std::string_view wireName;    ///< the field in responses and filters
  std::string_view recordName;  ///< the EstimationResult member's name
  std::string_view label;       ///< in words, for people
  std::optional<double> EstimationResult::*member;
  bool filterable;  ///< the list filter can compare it
};

/// The eighteen measurements, in the order people read them (neck down).
inline constexpr std::array<MeasurementField, 18> kMeasurementFields{{
    {"neckCircumference", "neckCircumference", "neck", &EstimationResult::neckCircumference, true},
    {"shoulderWidth", "shoulderWidth", "shoulder width", &EstimationResult::shoulderWidth, true},
    {"bicepCircumference", "bicepCircumference", "bicep", &EstimationResult::bicepCircumference,
     true},
    {"sleeveLength", "sleeveLength", "sleeve length", &EstimationResult::sleeveLength, true},
    {"chestCircumference", "chestCircumference", "chest", &EstimationResult::chestCircumference,
     true},
    {"waistCircumference", "waistCircumference", "waist", &EstimationResult::waistCircumference,
     true},
    {"hipCircumference", "hipCircumference", "hip", &EstimationResult::hipCircumference, true},
    {"wristCircumference", "wristCircumference", "wrist", &EstimationResult::wristCircumference,
     true},
    {"inseamLength", "inseamLength", "inseam", &EstimationResult::inseamLength, true},
    {"outseamLength", "outseamLength", "outseam", &EstimationResult::outseamLength, true},
    {"totalLength", "totalLength", "total length", &EstimationResult::totalLength, true},
    {"highHipCircumference", "highHipCircumference", "high hip",
     &EstimationResult::highHipCircumference, true},
    {"midThighCircumference", "midThichCircumference", "mid thigh",
     &EstimationResult::midThichCircumference, true},
    {"thighCircumference", "thighCircumference", "thigh", &EstimationResult::thighCircumference,
     true},
    {"kneeCircumference", "kneeCircumference", "knee", &EstimationResult::kneeCircumference, true},
    {"calfCircumference", "calfCircumference", "calf", &EstimationResult::calfCircumference, true},
    {"backlength", "backLength", "back length", &EstimationResult::backLength, false},
    {"underbust", "underBust", "under-bust", &EstimationResult::underBust, false},
}};

/// The request's own fields the list filter can compare, besides the measurements.
inline constexpr std::array<std::string_view, 8> kFilterableRequestFields{
    "createdAt", "failOnAutomaticEstimationFailure", "gender", "height", "id", "status", "userId",
    "weight"};

}  // namespace corvenza
