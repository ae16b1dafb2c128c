#include "parameter_options.h"

#include <iostream>
#include <limits>

#include "cli_session.h"

namespace corvenza::cli {

void addParameterOptions(CLI::App& command, ParameterOptions& options) {
  command.add_option("--height", options.height, "Height in cm")
      ->required()
      ->check(finitePositiveNumber());
  command.add_option("--weight", options.weight, "Weight in kg")
      ->required()
      ->check(finitePositiveNumber());
  command.add_option("--age", options.age, "Age in years")
      ->required()
      ->check(wholeNumber(0, std::numeric_limits<int>::max()));
  command.add_option("--gender", options.gender, "female, male or none")
      ->check(CLI::IsMember({"female", "male", "none"}));
  command.add_flag("--fail-on-automatic-failure", options.failOnAutomaticFailure,
                   "Fail instead of waiting for a manual estimation");
  command.add_option("--front", options.front, "Front photo (JPEG or PNG)")
      ->required()
      ->check(CLI::ExistingFile);
  command.add_option("--side", options.side, "Side photo (JPEG or PNG)")
      ->required()
      ->check(CLI::ExistingFile);
}

std::optional<EstimationParameter> loadParameter(const ParameterOptions& options) {
  // Decoding only the pixels the upload needs keeps a 12-megapixel photo cheap.
  Error loadError("CorvenzaImageError", 0);
  auto front = Image::fromFile(options.front, kUploadPhotoWidth, &loadError);
  if (!front) {
    std::cerr << "corvenza: cannot read the front photo: " << loadError.localizedDescription()
              << "\n";
    return std::nullopt;
  }
  auto side = Image::fromFile(options.side, kUploadPhotoWidth, &loadError);
  if (!side) {
    std::cerr << "corvenza: cannot read the side photo: " << loadError.localizedDescription()
              << "\n";
    return std::nullopt;
  }
  EstimationParameter parameter;
  parameter.heightInCm = options.height;
  parameter.weightInKg = options.weight;
  parameter.age = options.age;
  parameter.gender =
      options.gender == "none" ? std::nullopt : std::optional<Gender>(Gender(options.gender));
  parameter.failOnAutomaticEstimationFailure = options.failOnAutomaticFailure;
  parameter.frontImage = front;
  parameter.sideImage = side;
  return parameter;
}

}  // namespace corvenza::cli
