#pragma once
// A front view of a body as inline SVG, with each of the eighteen
// measurements drawn where it is taken and labelled with its value.

#include <nlohmann/json.hpp>
#include <string>

namespace corvenza::emulator::dashboard {

/// Width and height of the figure in CSS pixels.
inline constexpr int kFigureWidth = 520;
inline constexpr int kFigureHeight = 640;

/// The figure (an <svg id="figure"> element) for @p measurements (field name
/// to centimetres; a missing or non-number value is shown as "–"). Each value
/// is a <tspan data-measurement="FIELD">.
std::string bodyFigureSvg(const nlohmann::json& measurements);

}  // namespace corvenza::emulator::dashboard
