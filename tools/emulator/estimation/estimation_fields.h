#pragma once
// Field names of an estimation request as the schema spells them, shared by
// the schema, the store and the estimator so the three cannot drift apart.

#include <array>
#include <utility>

namespace corvenza::emulator::estimation {

/// The eighteen measurements, in the order clients select them.
inline constexpr std::array<const char*, 18> kMeasurementFields = {
    "neckCircumference",     "shoulderWidth",      "bicepCircumference",
    "sleeveLength",          "chestCircumference", "waistCircumference",
    "hipCircumference",      "wristCircumference", "inseamLength",
    "outseamLength",         "totalLength",        "highHipCircumference",
    "midThighCircumference", "thighCircumference", "kneeCircumference",
    "calfCircumference",     "backlength",         "underbust"};

/// The sixteen hit-zone probabilities (none for back length or under-bust).
inline constexpr std::array<const char*, 16> kProbabilityFields = {
    "probabilityOfBicepCircumferenceInHitZone", "probabilityOfCalfCircumferenceInHitZone",
    "probabilityOfChestCircumferenceInHitZone", "probabilityOfHighHipCircumferenceInHitZone",
    "probabilityOfHipCircumferenceInHitZone",   "probabilityOfInseamLengthInHitZone",
    "probabilityOfKneeCircumferenceInHitZone",  "probabilityOfMidThighCircumferenceInHitZone",
    "probabilityOfNeckCircumferenceInHitZone",  "probabilityOfOutseamLengthInHitZone",
    "probabilityOfShoulderWidthInHitZone",      "probabilityOfSleeveLengthInHitZone",
    "probabilityOfThighCircumferenceInHitZone", "probabilityOfTotalLengthInHitZone",
    "probabilityOfWaistCircumferenceInHitZone", "probabilityOfWristCircumferenceInHitZone"};

/// The eight stored-image fields.
inline constexpr std::array<const char*, 8> kImageFields = {
    "frontImageThumb",     "sideImageThumb",           "frontImage",
    "sideImage",           "annotatedFrontImageThumb", "annotatedSideImageThumb",
    "annotatedFrontImage", "annotatedSideImage"};

/// The fields a list filter may test, with the filter input type of each.
inline constexpr std::array<std::pair<const char*, const char*>, 24> kFilterFields = {{
    {"bicepCircumference", "TableFloatFilterInput"},
    {"calfCircumference", "TableFloatFilterInput"},
    {"chestCircumference", "TableFloatFilterInput"},
    {"createdAt", "TableIntFilterInput"},
    {"failOnAutomaticEstimationFailure", "TableBooleanFilterInput"},
    {"gender", "TableGenderFilterInput"},
    {"height", "TableFloatFilterInput"},
    {"highHipCircumference", "TableFloatFilterInput"},
    {"hipCircumference", "TableFloatFilterInput"},
    {"id", "TableIDFilterInput"},
    {"inseamLength", "TableFloatFilterInput"},
    {"kneeCircumference", "TableFloatFilterInput"},
    {"midThighCircumference", "TableFloatFilterInput"},
    {"neckCircumference", "TableFloatFilterInput"},
    {"outseamLength", "TableFloatFilterInput"},
    {"shoulderWidth", "TableFloatFilterInput"},
    {"sleeveLength", "TableFloatFilterInput"},
    {"status", "TableStatusFilterInput"},
    {"thighCircumference", "TableFloatFilterInput"},
    {"totalLength", "TableFloatFilterInput"},
    {"userId", "TableStringFilterInput"},
    {"waistCircumference", "TableFloatFilterInput"},
    {"weight", "TableFloatFilterInput"},
    {"wristCircumference", "TableFloatFilterInput"},
}};

}  // namespace corvenza::emulator::estimation
