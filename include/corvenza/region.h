#pragma once
/// @file
/// Cloud region values and their descriptions.

#include <string>
#include <string_view>

namespace corvenza {

/// A cloud region, numbered as the platform's region enumeration numbers it.
/// Value 0 is the unknown region. A plain value type; thread-safe to read.
class AWSRegionType {
 public:
  constexpr AWSRegionType() = default;
  constexpr explicit AWSRegionType(int value) : value_(value) {}

  static const AWSRegionType Unknown;       ///< 0
  static const AWSRegionType USEast1;       ///< 1, "us-east-1"
  static const AWSRegionType USWest1;       ///< 3, "us-west-1"
  static const AWSRegionType USWest2;       ///< 4, "us-west-2"
  static const AWSRegionType EUWest1;       ///< 5, "eu-west-1"
  static const AWSRegionType EUCentral1;    ///< 7, "eu-central-1"
  static const AWSRegionType APSoutheast1;  ///< 8, "ap-southeast-1"
  static const AWSRegionType APNortheast1;  ///< 9, "ap-northeast-1"
  static const AWSRegionType APNortheast2;  ///< 10, "ap-northeast-2"
  static const AWSRegionType APSoutheast2;  ///< 11, "ap-southeast-2"
  static const AWSRegionType SAEast1;       ///< 13, "sa-east-1"
  static const AWSRegionType CNNorth1;      ///< 14, "cn-north-1"
  static const AWSRegionType USGovWest1;    ///< 16, "us-gov-west-1"

  /// The region of a code such as "ap-northeast-1". Exact comparison: case and
  /// blanks are not folded; any other text gives the unknown region (0).
  static AWSRegionType regionTypeForString(std::string_view regionString);

  constexpr int value() const noexcept { return value_; }

  /// The region code ("us-east-1"), or "Unknown".
  std::string stringValue() const;
  /// The partition part of the code ("us", "eu", "us-gov"), or "Unknown".
  std::string physicalRegion() const;
  /// The place ("N. Virginia"), or "Unknown".
  std::string physicalLocation() const;
  /// The long name ("US East (N. Virginia)"), or "Unknown".
  std::string name() const;
  /// "East", "West", "Central", ..., or "Unknown".
  std::string cardinalDirection() const;
  /// The trailing digit of the code, or 0 for the unknown region.
  int number() const;

  friend constexpr bool operator==(AWSRegionType, AWSRegionType) = default;

 private:
  int value_ = 0;
};

}  // namespace corvenza
