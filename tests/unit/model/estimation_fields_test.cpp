#include <corvenza/estimation_fields.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "graphql/filter_inputs.h"
#include "graphql/operations.h"
#include "model/estimation_request_builder.h"

namespace corvenza::model {
namespace {

// A row that names the wrong member or a misspelt wire field would leave a
// measurement empty for ever; these catch both.
TEST(EstimationFields, EveryMeasurementHasOneRowThatTheReadAsksForAndTheBuilderFills) {
  std::vector<std::optional<double> EstimationResult::*> members;
  graphql::BodysizeEstimation e("r1", "u1", 1, BodysizeEstimationStatus::completed(), std::nullopt,
                                30, 170, 60);
  double value = 1.0;
  for (const auto& field : kMeasurementFields) {
    EXPECT_EQ(std::count(members.begin(), members.end(), field.member), 0)
        << field.recordName << " appears twice";
    members.push_back(field.member);
    EXPECT_NE(
        graphql::GetBodysizeEstimationQuery::requestString().find(std::string(field.wireName)),
        std::string::npos)
        << field.wireName << " is not asked for by the read";
    e.snapshot.set(std::string(field.wireName), value);
    value += 1.0;
  }
  auto record = makeEstimationRequest(e);
  ASSERT_TRUE(record->result);
  value = 1.0;
  for (const auto& field : kMeasurementFields) {
    EXPECT_EQ((*record->result).*field.member, value) << field.recordName;
    value += 1.0;
  }
}

TEST(EstimationFields, TheListFilterHasAKeyForEveryFilterableField) {
  const graphql::TableBodysizeEstimationFilterInput filter;
  std::vector<std::string> keys;
  for (const auto& [key, value] : filter.graphQLMap()) {
    keys.push_back(key);
  }
  std::vector<std::string> expected(kFilterableRequestFields.begin(),
                                    kFilterableRequestFields.end());
  for (const auto& field : kMeasurementFields) {
    if (field.filterable) expected.emplace_back(field.wireName);
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(keys.size(), 24u);
  EXPECT_EQ(keys, expected);
}

}  // namespace
}  // namespace corvenza::model
