#pragma once
// What the dashboard calls each of the eighteen measurements.

#include <array>
#include <string_view>

#include "estimation/estimation_fields.h"

namespace corvenza::emulator::dashboard {

struct MeasurementLabel {
  std::string_view field;
  /// Short, for the figure.
  std::string_view name;
  /// For the table: what is measured and how.
  std::string_view description;
};

inline constexpr std::array<MeasurementLabel, 18> kMeasurementLabels = {{
    {"neckCircumference", "Neck", "Neck circumference"},
    {"shoulderWidth", "Shoulders", "Shoulder width"},
    {"bicepCircumference", "Bicep", "Bicep circumference"},
    {"sleeveLength", "Sleeve", "Sleeve length"},
    {"chestCircumference", "Chest", "Chest circumference"},
    {"waistCircumference", "Waist", "Waist circumference"},
    {"hipCircumference", "Hip", "Hip circumference"},
    {"wristCircumference", "Wrist", "Wrist circumference"},
    {"inseamLength", "Inseam", "Inseam length"},
    {"outseamLength", "Outseam", "Outseam length"},
    {"totalLength", "Total length", "Total length"},
    {"highHipCircumference", "High hip", "High hip circumference"},
    {"midThighCircumference", "Mid thigh", "Mid-thigh circumference"},
    {"thighCircumference", "Thigh", "Thigh circumference"},
    {"kneeCircumference", "Knee", "Knee circumference"},
    {"calfCircumference", "Calf", "Calf circumference"},
    {"backlength", "Back length", "Back length"},
    {"underbust", "Under-bust", "Under-bust circumference"},
}};

// The store's field list and this one must name the same eighteen fields in the same order.
constexpr bool labelsMatchFields() {
  for (std::size_t i = 0; i < kMeasurementLabels.size(); ++i) {
    if (kMeasurementLabels[i].field != estimation::kMeasurementFields[i]) return false;
  }
  return kMeasurementLabels.size() == estimation::kMeasurementFields.size();
}
static_assert(labelsMatchFields());

}  // namespace corvenza::emulator::dashboard
