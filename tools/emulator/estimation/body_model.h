#pragma once
// The emulator's stand-in for the measurement model: closed-form
// anthropometric estimates from height, weight, age and gender. The formulas
// are written out in docs/emulator.md.

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace corvenza::emulator::estimation {

struct Person {
  /// Centimetres.
  double height = 0;
  /// Kilograms.
  double weight = 0;
  int age = 0;
  /// "female", "male", or anything else (both sexes averaged).
  std::optional<std::string> gender;
};

/// True when the person lies where the formulas mean something: height 100 to
/// 250 cm, weight 20 to 300 kg, age 0 to 120.
bool isPlausible(const Person& person);

/// The eighteen measurements (cm, one decimal) and the sixteen hit-zone
/// probabilities (integers 0 to 100), keyed by their GraphQL field names.
nlohmann::json estimateMeasurements(const Person& person);

}  // namespace corvenza::emulator::estimation
