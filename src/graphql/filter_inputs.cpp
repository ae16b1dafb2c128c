#include "graphql/filter_inputs.h"

#include <corvenza/estimation_fields.h>

#include <vector>

namespace corvenza::graphql {

TableBodysizeEstimationFilterInput::TableBodysizeEstimationFilterInput() {
  std::vector<std::string_view> keys(corvenza::kFilterableRequestFields.begin(),
                                     kFilterableRequestFields.end());
  for (const auto& field : corvenza::kMeasurementFields) {
    if (field.filterable) keys.push_back(field.wireName);
  }
  for (auto key : keys) {
    // The value type does not matter for a key that is not given.
    store(std::string(key), InputValue<bool>());
  }
}

}  // namespace corvenza::graphql
