#include "graphql/filter_inputs.h"

namespace corvenza::graphql {

TableBodysizeEstimationFilterInput::TableBodysizeEstimationFilterInput() {
  for (const char* key : {"bicepCircumference",
                          "calfCircumference",
                          "chestCircumference",
                          "createdAt",
                          "failOnAutomaticEstimationFailure",
                          "gender",
                          "height",
                          "highHipCircumference",
                          "hipCircumference",
                          "id",
                          "inseamLength",
                          "kneeCircumference",
                          "midThighCircumference",
                          "neckCircumference",
                          "outseamLength",
                          "shoulderWidth",
                          "sleeveLength",
                          "status",
                          "thighCircumference",
                          "totalLength",
                          "userId",
                          "waistCircumference",
                          "weight",
                          "wristCircumference"}) {
    // The value type does not matter for a key that is not given.
    store(key, InputValue<bool>());
  }
}

}  // namespace corvenza::graphql
