#include <corvenza/region.h>

#include <array>

namespace corvenza {

namespace {

struct RegionRow {
  int value;
  const char* code;
  const char* physicalRegion;
  const char* physicalLocation;
  const char* name;
  const char* direction;
  int number;
};

// In the order in which codes are matched.
constexpr std::array<RegionRow, 12> kRegions{{
    {1, "us-east-1", "us", "N. Virginia", "US East (N. Virginia)", "East", 1},
    {3, "us-west-1", "us", "N. California", "US West (N. California)", "West", 1},
    {4, "us-west-2", "us", "Oregon", "US West (Oregon)", "West", 2},
    {5, "eu-west-1", "eu", "Ireland", "EU (Ireland)", "West", 1},
    {7, "eu-central-1", "eu", "Frankfurt", "EU (Frankfurt)", "Central", 1},
    {9, "ap-northeast-1", "ap", "Tokyo", "Asia Pacific (Tokyo)", "Northeast", 1},
    {10, "ap-northeast-2", "ap", "Seoul", "Asia Pacific (Seoul)", "Northeast", 2},
    {8, "ap-southeast-1", "ap", "Singapore", "Asia Pacific (Singapore)", "Southeast", 1},
    {11, "ap-southeast-2", "ap", "Sydney", "Asia Pacific (Sydney)", "Southeast", 2},
    {13, "sa-east-1", "sa", "Sao Paulo", "South America (Sao Paulo)", "East", 1},
    {14, "cn-north-1", "cn", "Beijing", "China (Beijing)", "North", 1},
    {16, "us-gov-west-1", "us-gov", "US", "AWS GovCloud (US)", "West", 1},
}};

const RegionRow* rowFor(int value) {
  for (const auto& row : kRegions) {
    if (row.value == value) return &row;
  }
  return nullptr;
}

constexpr const char* kUnknown = "Unknown";

}  // namespace

const AWSRegionType AWSRegionType::Unknown{0};
const AWSRegionType AWSRegionType::USEast1{1};
const AWSRegionType AWSRegionType::USWest1{3};
const AWSRegionType AWSRegionType::USWest2{4};
const AWSRegionType AWSRegionType::EUWest1{5};
const AWSRegionType AWSRegionType::EUCentral1{7};
const AWSRegionType AWSRegionType::APSoutheast1{8};
const AWSRegionType AWSRegionType::APNortheast1{9};
const AWSRegionType AWSRegionType::APNortheast2{10};
const AWSRegionType AWSRegionType::APSoutheast2{11};
const AWSRegionType AWSRegionType::SAEast1{13};
const AWSRegionType AWSRegionType::CNNorth1{14};
const AWSRegionType AWSRegionType::USGovWest1{16};

AWSRegionType AWSRegionType::regionTypeForString(std::string_view regionString) {
  for (const auto& row : kRegions) {
    if (regionString == row.code) return AWSRegionType(row.value);
  }
  return AWSRegionType(0);
}

std::string AWSRegionType::stringValue() const {
  const RegionRow* row = rowFor(value_);
  return row ? row->code : kUnknown;
}

std::string AWSRegionType::physicalRegion() const {
  const RegionRow* row = rowFor(value_);
  return row ? row->physicalRegion : kUnknown;
}

std::string AWSRegionType::physicalLocation() const {
  const RegionRow* row = rowFor(value_);
  return row ? row->physicalLocation : kUnknown;
}

std::string AWSRegionType::name() const {
  const RegionRow* row = rowFor(value_);
  return row ? row->name : kUnknown;
}

std::string AWSRegionType::cardinalDirection() const {
  const RegionRow* row = rowFor(value_);
  return row ? row->direction : kUnknown;
}

int AWSRegionType::number() const {
  const RegionRow* row = rowFor(value_);
  return row ? row->number : 0;
}

}  // namespace corvenza
