#pragma once
// The options that describe a person and their two photos, shared by
// `create` and `queue add`.

#include <corvenza/corvenza.h>

#include <CLI/CLI.hpp>
#include <optional>
#include <string>

namespace corvenza::cli {

struct ParameterOptions {
  double height = 0;
  double weight = 0;
  int age = 0;
  std::string gender = "none";
  bool failOnAutomaticFailure = false;
  std::string front;
  std::string side;
};

/// Adds --height, --weight, --age, --gender, --fail-on-automatic-failure,
/// --front and --side to @p command.
void addParameterOptions(CLI::App& command, ParameterOptions& options);

/// The parameter with both photos loaded at the upload width, or nothing
/// (after saying on standard error which photo cannot be read).
std::optional<EstimationParameter> loadParameter(const ParameterOptions& options);

}  // namespace corvenza::cli
