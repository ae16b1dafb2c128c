#include <corvenza/estimation.h>

namespace corvenza {

bool EstimationParameter::validate() const {
  // Written as positive comparisons so a NaN height or weight fails.
  if (!frontImage) return false;
  if (!sideImage) return false;
  if (!(heightInCm > 0)) return false;
  if (!(weightInKg > 0)) return false;
  return age >= 0;
}

void EstimationParameter::clear() {
  frontImage.reset();
  sideImage.reset();
  gender = Gender::male();
  heightInCm = 0;
  weightInKg = 0;
  age = 0;
}

}  // namespace corvenza
