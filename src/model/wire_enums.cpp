#include <corvenza/estimation.h>

#include <array>

namespace corvenza {

Gender Gender::fromRawValue(std::string rawValue) {
  if (rawValue == "female") return female();
  if (rawValue == "male") return male();
  return unknown(std::move(rawValue));
}

BodysizeEstimationStatus BodysizeEstimationStatus::fromRawValue(std::string rawValue) {
  const std::array named = {requested(), pendingAutomaticEstimation(), pendingManualEstimation(),
                            completed(), failed()};
  for (const auto& status : named) {
    if (status.rawValue() == rawValue) return status;
  }
  return unknown(std::move(rawValue));
}

}  // namespace corvenza
