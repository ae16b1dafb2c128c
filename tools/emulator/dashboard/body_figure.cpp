#include "dashboard/body_figure.h"

#include <array>
#include <string_view>

#include "dashboard/html.h"
#include "dashboard/measurement_labels.h"

namespace corvenza::emulator::dashboard {
namespace {

// The figure stands on y = 616 with the top of its head at y = 24, centred on
// x = 260; landmarks sit at the usual fractions of body height. Labels run
// in a column on each side, joined to their mark by a thin leader.
constexpr std::string_view kBody =
    R"(<g class="body">)"
    R"(<ellipse cx="260" cy="58" rx="25" ry="34"/>)"
    R"(<rect x="249" y="88" width="22" height="30" rx="6"/>)"
    R"(<path d="M214 121 Q260 110 306 121 L330 134 L322 196 L310 250 L318 300 L316 340 )"
    R"(L204 340 L202 300 L210 250 L198 196 L190 134 Z"/>)"
    R"(<polyline class="limb" points="197,138 183,242 177,328"/>)"
    R"(<polyline class="limb" points="323,138 337,242 343,328"/>)"
    R"(<circle cx="176" cy="346" r="11"/><circle cx="344" cy="346" r="11"/>)"
    R"(<path d="M204 330 L258 330 L256 352 L250 449 L248 500 L245 596 L225 596 L222 500 )"
    R"(L216 449 L206 384 Z"/>)"
    R"(<path d="M316 330 L262 330 L264 352 L270 449 L272 500 L275 596 L295 596 L298 500 )"
    R"(L304 449 L314 384 Z"/>)"
    R"(<ellipse cx="232" cy="606" rx="19" ry="9"/><ellipse cx="288" cy="606" rx="19" ry="9"/>)"
    R"(</g>)";

enum class Side { Left, Right };

struct Mark {
  std::string_view field;
  /// The mark itself, in figure coordinates.
  std::string_view shape;
  Side side;
  int labelY;
  /// Where the leader ends.
  int anchorX;
  int anchorY;
};

constexpr std::array<Mark, 18> kMarks = {{
    {"neckCircumference", R"(<ellipse cx="260" cy="104" rx="14" ry="4"/>)", Side::Left, 100, 246,
     104},
    {"shoulderWidth", R"(<path d="M190 116 L330 116 M190 111 L190 121 M330 111 L330 121"/>)",
     Side::Left, 126, 190, 116},
    {"sleeveLength", R"(<polyline class="length" points="187,128 169,242 163,330"/>)", Side::Left,
     152, 176, 190},
    {"chestCircumference", R"(<ellipse cx="260" cy="184" rx="61" ry="7"/>)", Side::Left, 178, 199,
     184},
    {"underbust", R"(<ellipse cx="260" cy="206" rx="58" ry="6"/>)", Side::Left, 204, 202, 206},
    {"backlength",
     R"(<path class="back" d="M260 118 L260 250 M255 118 L265 118 M255 250 L265 250"/>)",
     Side::Left, 230, 260, 230},
    {"waistCircumference", R"(<ellipse cx="260" cy="250" rx="50" ry="6"/>)", Side::Left, 256, 210,
     250},
    {"highHipCircumference", R"(<ellipse cx="260" cy="278" rx="54" ry="6"/>)", Side::Left, 282, 206,
     278},
    {"hipCircumference", R"(<ellipse cx="260" cy="306" rx="59" ry="7"/>)", Side::Left, 308, 201,
     306},
    {"wristCircumference", R"(<ellipse cx="177" cy="326" rx="9" ry="3"/>)", Side::Left, 334, 168,
     326},
    {"totalLength", R"(<path d="M372 118 L372 616 M367 118 L377 118 M367 616 L377 616"/>)",
     Side::Right, 140, 372, 140},
    {"bicepCircumference", R"(<ellipse cx="331" cy="196" rx="12" ry="4"/>)", Side::Right, 196, 343,
     196},
    {"outseamLength", R"(<path d="M330 250 L330 616 M325 250 L335 250 M325 616 L335 616"/>)",
     Side::Right, 262, 330, 262},
    {"thighCircumference", R"(<ellipse cx="288" cy="356" rx="26" ry="5"/>)", Side::Right, 352, 314,
     356},
    {"midThighCircumference", R"(<ellipse cx="289" cy="390" rx="24" ry="5"/>)", Side::Right, 386,
     313, 390},
    {"inseamLength", R"(<path d="M261 344 L261 616 M256 344 L266 344 M256 616 L266 616"/>)",
     Side::Right, 420, 261, 420},
    {"kneeCircumference", R"(<ellipse cx="287" cy="449" rx="17" ry="4"/>)", Side::Right, 452, 304,
     449},
    {"calfCircumference", R"(<ellipse cx="285" cy="500" rx="14" ry="4"/>)", Side::Right, 500, 299,
     500},
}};

constexpr bool marksEveryMeasurement() {
  for (const auto& label : kMeasurementLabels) {
    int found = 0;
    for (const auto& mark : kMarks) found += mark.field == label.field ? 1 : 0;
    if (found != 1) return false;
  }
  return true;
}
static_assert(marksEveryMeasurement(), "each measurement is drawn exactly once");

constexpr int kLeftTextX = 10;
constexpr int kLeftLeaderX = 126;
constexpr int kRightTextX = 510;
constexpr int kRightLeaderX = 394;

std::string_view nameOf(std::string_view field) {
  for (const auto& label : kMeasurementLabels) {
    if (label.field == field) return label.name;
  }
  return field;
}

std::string valueText(const nlohmann::json& measurements, std::string_view field) {
  const auto it = measurements.find(std::string(field));
  if (it == measurements.end() || !it->is_number()) return "\xE2\x80\x93";
  return oneDecimal(it->get<double>());
}

}  // namespace

std::string bodyFigureSvg(const nlohmann::json& measurements) {
  std::string svg =
      R"(<svg id="figure" xmlns="http://www.w3.org/2000/svg" width=")" +
      std::to_string(kFigureWidth) + R"(" height=")" + std::to_string(kFigureHeight) +
      R"(" viewBox="0 0 )" + std::to_string(kFigureWidth) + " " + std::to_string(kFigureHeight) +
      R"(" role="img" aria-labelledby="figure-title">)"
      R"(<title id="figure-title">The measurements on a front view of the body, in cm</title>)"
      R"(<rect class="backdrop" width="100%" height="100%"/>)";
  svg += kBody;
  svg += R"(<g class="marks">)";
  for (const auto& mark : kMarks) svg += mark.shape;
  svg += "</g>";
  svg += R"(<g class="labels">)";
  for (const auto& mark : kMarks) {
    const bool left = mark.side == Side::Left;
    const auto y = std::to_string(mark.labelY);
    svg += R"(<line class="leader" x1=")" + std::to_string(left ? kLeftLeaderX : kRightLeaderX) +
           R"(" y1=")" + y + R"(" x2=")" + std::to_string(mark.anchorX) + R"(" y2=")" +
           std::to_string(mark.anchorY) + R"("/>)";
    svg += R"(<text x=")" + std::to_string(left ? kLeftTextX : kRightTextX) + R"(" y=")" + y +
           R"(" dy="4" text-anchor=")" + (left ? "start" : "end") + R"(">)" +
           htmlEscape(nameOf(mark.field)) + R"( <tspan class="value" data-measurement=")" +
           htmlEscape(mark.field) + R"(">)" + htmlEscape(valueText(measurements, mark.field)) +
           "</tspan></text>";
  }
  svg += "</g></svg>";
  return svg;
}

}  // namespace corvenza::emulator::dashboard
