#include "estimation/body_model.h"

#include <algorithm>
#include <cmath>

#include "estimation/estimation_fields.h"

namespace corvenza::emulator::estimation {
namespace {

// Girths: a share of height for a person of body-mass index 22, scaled by
// (BMI / 22) ^ exponent: soft-tissue girths (waist) follow mass closely,
// bony ones (wrist, knee) hardly at all.
struct Girth {
  const char* field;
  double male;
  double female;
  double exponent;
};
constexpr Girth kGirths[] = {
    {"neckCircumference", 0.217, 0.194, 0.45},    {"bicepCircumference", 0.171, 0.170, 0.75},
    {"chestCircumference", 0.549, 0.545, 0.55},   {"waistCircumference", 0.469, 0.436, 0.85},
    {"hipCircumference", 0.554, 0.594, 0.60},     {"wristCircumference", 0.097, 0.091, 0.30},
    {"highHipCircumference", 0.514, 0.530, 0.70}, {"midThighCircumference", 0.286, 0.310, 0.70},
    {"thighCircumference", 0.314, 0.340, 0.70},   {"kneeCircumference", 0.217, 0.225, 0.40},
    {"calfCircumference", 0.211, 0.212, 0.50},    {"underbust", 0.480, 0.455, 0.55},
};

// Lengths: a share of height only (segment proportions barely vary with mass).
struct Length {
  const char* field;
  double male;
  double female;
};
constexpr Length kLengths[] = {
    {"shoulderWidth", 0.259, 0.236}, {"sleeveLength", 0.350, 0.340}, {"inseamLength", 0.450, 0.445},
    {"outseamLength", 0.610, 0.605}, {"totalLength", 0.845, 0.840},  {"backlength", 0.258, 0.250},
};

double roundTenth(double value) { return std::round(value * 10.0) / 10.0; }

}  // namespace

bool isPlausible(const Person& person) {
  return person.height >= 100 && person.height <= 250 && person.weight >= 20 &&
         person.weight <= 300 && person.age >= 0 && person.age <= 120;
}

nlohmann::json estimateMeasurements(const Person& person) {
  const double heightM = person.height / 100.0;
  const double bmi = person.weight / (heightM * heightM);
  // Kept to a range where the power laws stay sensible at the extremes of plausible input.
  const double adiposity = std::clamp(bmi / 22.0, 0.6, 2.5);
  const double maleShare = person.gender == "male" ? 1.0 : person.gender == "female" ? 0.0 : 0.5;
  const auto share = [maleShare](double male, double female) {
    return female + maleShare * (male - female);
  };
  // The waist widens by about 0.3 % a year past thirty, until eighty.
  const double ageFactor = 1.0 + 0.003 * (std::clamp(person.age, 18, 80) - 30);

  nlohmann::json out = nlohmann::json::object();
  for (const auto& girth : kGirths) {
    double value =
        person.height * share(girth.male, girth.female) * std::pow(adiposity, girth.exponent);
    if (std::string_view(girth.field) == "waistCircumference") value *= ageFactor;
    out[girth.field] = roundTenth(value);
  }
  for (const auto& length : kLengths) {
    double value = person.height * share(length.male, length.female);
    if (std::string_view(length.field) == "shoulderWidth") value *= std::pow(adiposity, 0.15);
    out[length.field] = roundTenth(value);
  }

  // Confidence falls as the body-mass index leaves the range the model knows
  // best and for older people; each measurement gets a fixed offset so that
  // they differ.
  const double base = 92.0 - 2.0 * std::abs(bmi - 22.0) - (person.age > 60 ? 5.0 : 0.0);
  int index = 0;
  for (const char* field : kProbabilityFields) {
    const double value = base - static_cast<double>((index * 3) % 11);
    out[field] = static_cast<int>(std::clamp(std::round(value), 5.0, 99.0));
    ++index;
  }
  return out;
}

}  // namespace corvenza::emulator::estimation
