#include <corvenza/enterprise.h>
#include <corvenza/estimation.h>
#include <gtest/gtest.h>

#include <cmath>
#include <unordered_set>

namespace corvenza {
namespace {

TEST(WireEnums, NamedTextsMapToCasesAndOthersRoundTripAsUnknown) {
  EXPECT_EQ(Gender::fromRawValue("female"), Gender::female());
  EXPECT_EQ(Gender("male").kind(), Gender::Case::male);
  EXPECT_EQ(Gender("Male"), Gender::unknown("Male"));
  EXPECT_EQ(Gender("").rawValue(), "");

  for (const char* raw : {"requested", "pendingAutomaticEstimation", "pendingManualEstimation",
                          "completed", "failed"}) {
    auto s = BodysizeEstimationStatus::fromRawValue(raw);
    EXPECT_NE(s.kind(), BodysizeEstimationStatus::Case::unknown) << raw;
    EXPECT_EQ(s.rawValue(), raw);
  }
  auto odd = BodysizeEstimationStatus::fromRawValue("COMPLETED");
  EXPECT_EQ(odd.kind(), BodysizeEstimationStatus::Case::unknown);
  EXPECT_EQ(odd.rawValue(), "COMPLETED");
  EXPECT_EQ(BodysizeEstimationStatus::fromRawValue(odd.rawValue()), odd);
  EXPECT_NE(odd, BodysizeEstimationStatus::unknown("completed"));
  // unknown carrying a named text is not that named case.
  EXPECT_NE(BodysizeEstimationStatus::unknown("completed"), BodysizeEstimationStatus::completed());

  std::unordered_set<BodysizeEstimationStatus> set{
      odd, BodysizeEstimationStatus::unknown("COMPLETED"), BodysizeEstimationStatus::completed()};
  EXPECT_EQ(set.size(), 2u);
  std::unordered_set<Gender> genders{Gender::male(), Gender("male"), Gender::unknown("x")};
  EXPECT_EQ(genders.size(), 2u);
}

TEST(EstimationParameters, ValidateChecksPhotosHeightWeightAndAge) {
  EstimationParameter p;
  EXPECT_EQ(p.gender, Gender::male());
  EXPECT_FALSE(p.validate());
  auto photo = Image::fromPixels(1, 1, {0, 0, 0});
  p.frontImage = photo;
  EXPECT_FALSE(p.validate());
  p.sideImage = photo;
  p.heightInCm = 170;
  p.weightInKg = 60;
  p.age = 0;
  EXPECT_TRUE(p.validate());
  p.age = -1;
  EXPECT_FALSE(p.validate());
  p.age = 30;
  p.heightInCm = std::nan("");
  EXPECT_FALSE(p.validate());
  p.heightInCm = 170;
  p.weightInKg = std::nan("");
  EXPECT_FALSE(p.validate());
  p.weightInKg = 0;
  EXPECT_FALSE(p.validate());
}

TEST(EstimationParameters, ClearKeepsTheFailureChoiceAndResetsGenderToMale) {
  EstimationParameter p;
  p.frontImage = p.sideImage = Image::fromPixels(1, 1, {0, 0, 0});
  p.heightInCm = 170;
  p.weightInKg = 60;
  p.age = 40;
  p.gender = std::nullopt;
  p.failOnAutomaticEstimationFailure = true;
  p.clear();
  EXPECT_FALSE(p.frontImage);
  EXPECT_FALSE(p.sideImage);
  EXPECT_EQ(p.gender, Gender::male());
  EXPECT_EQ(p.heightInCm, 0);
  EXPECT_EQ(p.weightInKg, 0);
  EXPECT_EQ(p.age, 0);
  EXPECT_TRUE(p.failOnAutomaticEstimationFailure);
}

TEST(RemoteImages, SlotAndDownloadLinksGoThroughTheProxysLinkMaker) {
  int calls = 0;
  RemoteImageProxy proxy("eu-west-1", "bucket", "u/r/front.jpg",
                         [&](const S3Object& o) -> std::optional<std::string> {
                           ++calls;
                           return "https://links.invalid/" + o.getBucketName() + "/" +
                                  o.getKeyName() + "?n=" + std::to_string(calls);
                         });
  EXPECT_EQ(proxy.s3Object(), S3Object("bucket", "u/r/front.jpg", "eu-west-1"));
  EXPECT_TRUE(proxy.isDownloadable());

  auto img = Image::fromPixels(2, 1, {1, 2, 3, 4, 5, 6});
  proxy.setCachedImage(img);
  EXPECT_EQ(proxy.image(), img);
  proxy.clearImageCache();
  EXPECT_FALSE(proxy.image());
  EXPECT_FALSE(proxy.cachedImage());

  // A proxy the application made itself has nothing to sign with.
  EXPECT_FALSE(RemoteImageProxy("eu-west-1", "bucket", "k").downloadableURL());

  EXPECT_EQ(proxy.downloadableURL(), "https://links.invalid/bucket/u/r/front.jpg?n=1");
  EXPECT_EQ(proxy.downloadableURL(), "https://links.invalid/bucket/u/r/front.jpg?n=2");

  proxy.setS3Object(std::nullopt);
  EXPECT_FALSE(proxy.isDownloadable());
  EXPECT_FALSE(proxy.downloadableURL());
  EXPECT_EQ(calls, 2);
}

TEST(EstimationImageTypes, RawTextsRoundTripAndNothingElseParses) {
  using T = CorvenzaEnterprise::EstimationImageType;
  for (T t : {T::front, T::side, T::annotated_front, T::annotated_side}) {
    EXPECT_EQ(CorvenzaEnterprise::estimationImageType(CorvenzaEnterprise::rawValue(t)), t);
  }
  EXPECT_EQ(CorvenzaEnterprise::rawValue(T::annotated_side), "annotated_side_image.jpg");
  EXPECT_FALSE(CorvenzaEnterprise::estimationImageType("front"));
  EXPECT_FALSE(CorvenzaEnterprise::estimationImageType("Front.jpg"));
}

}  // namespace
}  // namespace corvenza
