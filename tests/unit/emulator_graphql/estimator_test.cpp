#include "estimation/estimator.h"

#include <thread>

#include "estimation/body_model.h"
#include "estimation/estimation_fields.h"
#include "service_fixture.h"

namespace corvenza::emulator::testing {
namespace {

using estimation::Estimator;

class EstimatorTest : public ServiceTest {
 protected:
  void SetUp() override {
    ServiceTest::SetUp();
    estimator_ = std::make_unique<Estimator>(*store_, std::chrono::milliseconds(0));
  }
  void TearDown() override {
    estimator_.reset();
    ServiceTest::TearDown();
  }

  nlohmann::json get(const std::string& id) {
    return runClient("get_bodysize_estimation", {{"id", id}})["data"]["getBodysizeEstimation"];
  }

  std::unique_ptr<Estimator> estimator_;
};

TEST_F(EstimatorTest, CompletesARequestOnceBothPhotosAreAttached) {
  const auto id = create();
  const auto frontKey = photoKey(kAlice, id, "front.jpg");
  const auto sideKey = photoKey(kAlice, id, "side.jpg");
  runClient("attach_front_image", {{"id", id}, {"image", image(frontKey)}});
  EXPECT_EQ(estimator_->scheduledCount(), 0u);
  runClient("attach_side_image", {{"id", id}, {"image", image(sideKey)}});
  EXPECT_EQ(get(id)["status"], "pendingAutomaticEstimation");

  std::vector<std::string> thumbnailKeys;
  estimator_->setThumbnailMaker([&](const estimation::S3Location& source, std::string key) {
    thumbnailKeys.push_back(key);
    if (key.find("annotated") != std::string::npos) return std::optional<estimation::S3Location>();
    return std::optional(estimation::S3Location{source.bucket, key, source.region});
  });
  EXPECT_EQ(estimator_->runPendingNow(), 1u);

  const auto done = get(id);
  EXPECT_EQ(done["status"], "completed");
  EXPECT_TRUE(done["errorCode"].is_null());
  for (const char* field : estimation::kMeasurementFields) {
    SCOPED_TRACE(field);
    ASSERT_TRUE(done[field].is_number());
    EXPECT_GT(done[field].get<double>(), 5.0);
    EXPECT_LT(done[field].get<double>(), 170.5);
  }
  for (const char* field : estimation::kProbabilityFields) {
    ASSERT_TRUE(done[field].is_number_integer()) << field;
    EXPECT_GE(done[field].get<int>(), 0);
    EXPECT_LE(done[field].get<int>(), 100);
  }
  const auto prefix = std::string(kAlice) + "/" + id + "/";
  EXPECT_EQ(done["frontImageThumb"]["key"], prefix + "front_thumb.jpg");
  EXPECT_EQ(done["sideImageThumb"]["key"], prefix + "side_thumb.jpg");
  // Without a made thumbnail the original photo stands in.
  EXPECT_EQ(done["annotatedFrontImageThumb"]["key"], frontKey);
  EXPECT_EQ(done["annotatedSideImage"]["key"], sideKey);
  EXPECT_EQ(thumbnailKeys.size(), 4u);
  EXPECT_EQ(estimator_->runPendingNow(), 0u);
}

TEST_F(EstimatorTest, ImplausiblePeopleFailOrWaitForManualEstimation) {
  struct Case {
    double height;
    bool failFlag;
    const char* status;
  };
  for (const auto& c : {Case{99.0, true, "failed"}, Case{251.0, false, "pendingManualEstimation"},
                        Case{250.0, true, "completed"}}) {
    SCOPED_TRACE(c.height);
    const auto id = create(kAlice, c.height, c.failFlag);
    attachBoth(id);
    estimator_->runPendingNow();
    const auto done = get(id);
    EXPECT_EQ(done["status"], c.status);
    const bool failed = std::string(c.status) == "failed";
    EXPECT_EQ(done["errorCode"],
              failed ? nlohmann::json("AUTOMATIC_ESTIMATION_FAILED") : nlohmann::json());
    EXPECT_EQ(done["waistCircumference"].is_null(), std::string(c.status) != "completed");
  }
}

TEST_F(EstimatorTest, LeavesRequestsThatChangedOrVanishedAlone) {
  const auto deleted = create();
  attachBoth(deleted);
  runClient("delete_bodysize_estimation", {{"input", {{"id", deleted}}}});
  EXPECT_EQ(estimator_->runPendingNow(), 1u);
  EXPECT_TRUE(get(deleted).is_null());

  const auto waiting = create();
  attachBoth(waiting);
  // A restarted estimator picks up what was left pending in the store.
  estimator_ = std::make_unique<Estimator>(*store_, std::chrono::milliseconds(0));
  estimator_->start();
  estimator_->stop();
  estimator_->runPendingNow();
  EXPECT_EQ(get(waiting)["status"], "completed");
}

TEST_F(EstimatorTest, SchedulingWhileTheThreadWaitsKeepsEveryJob) {
  // The thread waits for the first job's time while new jobs grow the list
  // under it: it must not read the moved-away first job (a sanitizer build
  // catches that).
  estimator_ = std::make_unique<Estimator>(*store_, std::chrono::hours(1));
  estimator_->start();
  estimator_->schedule("first");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let the thread wait on it
  for (int i = 0; i < 40; ++i) estimator_->schedule("id-" + std::to_string(i));
  EXPECT_EQ(estimator_->scheduledCount(), 41u);
  estimator_->stop();
}

TEST(BodyModel, MeasurementsFollowHeightWeightAndGender) {
  using estimation::estimateMeasurements;
  using estimation::Person;
  const auto base = estimateMeasurements({170, 65, 35, "female"});
  const auto heavier = estimateMeasurements({170, 95, 35, "female"});
  const auto taller = estimateMeasurements({190, 65, 35, "female"});
  const auto male = estimateMeasurements({170, 65, 35, "male"});
  EXPECT_GT(heavier["waistCircumference"], base["waistCircumference"]);
  EXPECT_GT(heavier["thighCircumference"], base["thighCircumference"]);
  EXPECT_EQ(heavier["inseamLength"], base["inseamLength"]);
  EXPECT_GT(taller["inseamLength"], base["inseamLength"]);
  EXPECT_GT(male["neckCircumference"], base["neckCircumference"]);
  EXPECT_LT(male["hipCircumference"], base["hipCircumference"]);
  EXPECT_GT(base["hipCircumference"], base["waistCircumference"]);
  EXPECT_GT(base["outseamLength"], base["inseamLength"]);
  // Unknown gender lies between the two.
  const auto unknown = estimateMeasurements({170, 65, 35, std::nullopt});
  EXPECT_GT(unknown["neckCircumference"], base["neckCircumference"]);
  EXPECT_LT(unknown["neckCircumference"], male["neckCircumference"]);

  EXPECT_TRUE(estimation::isPlausible({100, 20, 0, std::nullopt}));
  EXPECT_FALSE(estimation::isPlausible({170, 19.9, 30, std::nullopt}));
  EXPECT_FALSE(estimation::isPlausible({170, 301, 30, std::nullopt}));
  EXPECT_FALSE(estimation::isPlausible({170, 60, 121, std::nullopt}));
  EXPECT_FALSE(estimation::isPlausible({170, 60, -1, std::nullopt}));
}

}  // namespace
}  // namespace corvenza::emulator::testing
