#include <corvenza/region.h>
#include <gtest/gtest.h>

namespace corvenza {
namespace {

struct RegionRow {
  const char* code;
  int value;
  const char* physicalRegion;
  const char* location;
  const char* name;
  const char* direction;
  int number;
};

const RegionRow kRows[] = {
    {"us-east-1", 1, "us", "N. Virginia", "US East (N. Virginia)", "East", 1},
    {"us-west-1", 3, "us", "N. California", "US West (N. California)", "West", 1},
    {"us-west-2", 4, "us", "Oregon", "US West (Oregon)", "West", 2},
    {"eu-west-1", 5, "eu", "Ireland", "EU (Ireland)", "West", 1},
    {"eu-central-1", 7, "eu", "Frankfurt", "EU (Frankfurt)", "Central", 1},
    {"ap-southeast-1", 8, "ap", "Singapore", "Asia Pacific (Singapore)", "Southeast", 1},
    {"ap-northeast-1", 9, "ap", "Tokyo", "Asia Pacific (Tokyo)", "Northeast", 1},
    {"ap-northeast-2", 10, "ap", "Seoul", "Asia Pacific (Seoul)", "Northeast", 2},
    {"ap-southeast-2", 11, "ap", "Sydney", "Asia Pacific (Sydney)", "Southeast", 2},
    {"sa-east-1", 13, "sa", "Sao Paulo", "South America (Sao Paulo)", "East", 1},
    {"cn-north-1", 14, "cn", "Beijing", "China (Beijing)", "North", 1},
    {"us-gov-west-1", 16, "us-gov", "US", "AWS GovCloud (US)", "West", 1},
};

TEST(RegionTest, EveryCodeMapsToItsValueAndDescriptions) {
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.code);
    auto region = AWSRegionType::regionTypeForString(row.code);
    EXPECT_EQ(region.value(), row.value);
    EXPECT_EQ(region.stringValue(), row.code);
    EXPECT_EQ(region.physicalRegion(), row.physicalRegion);
    EXPECT_EQ(region.physicalLocation(), row.location);
    EXPECT_EQ(region.name(), row.name);
    EXPECT_EQ(region.cardinalDirection(), row.direction);
    EXPECT_EQ(region.number(), row.number);
  }
}

TEST(RegionTest, LookupIsExact) {
  EXPECT_EQ(AWSRegionType::regionTypeForString("US-EAST-1"), AWSRegionType::Unknown);
  EXPECT_EQ(AWSRegionType::regionTypeForString(" us-east-1"), AWSRegionType::Unknown);
  EXPECT_EQ(AWSRegionType::regionTypeForString("us-east-1 "), AWSRegionType::Unknown);
  EXPECT_EQ(AWSRegionType::regionTypeForString(""), AWSRegionType::Unknown);
  EXPECT_EQ(AWSRegionType::regionTypeForString("ap-northeast-1"), AWSRegionType::APNortheast1);
}

TEST(RegionTest, ValuesWithoutRowAreUnknown) {
  for (int value : {0, 2, 6, 12, 15, 17, -1, 1000}) {
    SCOPED_TRACE(value);
    AWSRegionType region(value);
    EXPECT_EQ(region.stringValue(), "Unknown");
    EXPECT_EQ(region.physicalRegion(), "Unknown");
    EXPECT_EQ(region.physicalLocation(), "Unknown");
    EXPECT_EQ(region.name(), "Unknown");
    EXPECT_EQ(region.cardinalDirection(), "Unknown");
    EXPECT_EQ(region.number(), 0);
  }
}

}  // namespace
}  // namespace corvenza
