// The library against a misbehaving service: every step of a creation and
// every read, list, update, delete and subscription, through each fault the
// emulator can inject (an error status, a dropped connection, malformed JSON,
// a stall). Each must end in exactly one callback with an error that names
// the step, leave no photo file behind, and leave the process able to serve
// the next call. Time-outs run on a fake clock, so a stall costs no waiting.

#include <corvenza/direct_token_provider.h>
#include <corvenza/enterprise.h>
#include <corvenza/image.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "emulator_http_client.h"
#include "integration/fault_control.h"
#include "requests/client_state.h"
#include "testkit/emulator_process.h"
#include "testkit/example_photos.h"
#include "testkit/fake_clock.h"
#include "testkit/temp_dir.h"

namespace corvenza::test {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

// The actions every step is put through.
const std::vector<json> kActions = {
    {{"action", "fail"}, {"status", 503}, {"times", "always"}},
    {{"action", "fail"}, {"status", 400}, {"times", "always"}},
    {{"action", "drop"}, {"times", "always"}},
    {{"action", "malformed"}, {"times", "always"}},
    {{"action", "stall"}, {"times", "always"}},
};

struct Answer {
  int calls = 0;
  std::shared_ptr<EstimationRequest> record;
  std::optional<Errors> errors;
};

// Injects a fault at a moment of the creation the test cannot reach from
// outside: when the front (or side) photo is about to be uploaded.
class InjectAt final : public CorvenzaEnterpriseDelegate {
 public:
  InjectAt(EstimationProgressType when, std::function<void()> inject)
      : when_(when), inject_(std::move(inject)) {}
  void estimationProgressDidChange(EstimationProgressType progress) override {
    if (progress == when_ && inject_) std::exchange(inject_, nullptr)();
  }

 private:
  EstimationProgressType when_;
  std::function<void()> inject_;
};

class FaultSuiteTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = std::make_unique<TempDir>();
    const auto bundle = root_->path() / "bundle";
    emulator_ = std::make_unique<EmulatorProcess>(
        CORVENZA_EMULATOR_PATH,
        std::vector<std::string>{"--write-bundle", bundle.string(), "--estimation-delay", "60000"});
    if (!emulator_->ok()) return;
    setenv("AWS_ENDPOINT_URL_COGNITO_IDENTITY", emulator_->endpoint("identity").c_str(), 1);
    setenv("AWS_ENDPOINT_URL_S3", emulator_->endpoint("s3").c_str(), 1);
    // Photos on their way to storage land here, where the test can count them.
    setenv("TMPDIR", root_->path().c_str(), 1);
    Bundle::setMainBundleDirectory(bundle);

    detail::resetSharedInstanceForTesting();
    clock_ = std::make_shared<FakeClock>();
    queue_ = MainQueue::callerDriven(clock_);
    CorvenzaEnterprise::setMainQueue(queue_);
    auto provider = std::make_shared<DirectTokenProvider>(emulator_->endpoint("auth"),
                                                          emulator_->endpoint("api_key"));
    provider->setUserId("fault-user");
    CorvenzaEnterprise::initialize(provider);
  }
  static void TearDownTestSuite() {
    detail::resetSharedInstanceForTesting();
    if (queue_) queue_->stop();
    CorvenzaEnterprise::setMainQueue(nullptr);
    emulator_.reset();
    root_.reset();
  }

  void SetUp() override {
    ASSERT_TRUE(emulator_->ok()) << emulator_->error();
    clearFaults();
  }
  void TearDown() override {
    clearFaults();
    CorvenzaEnterprise::shared().setDelegate(nullptr);
  }

  static FaultControl faults() { return FaultControl(emulator_->endpoint("base")); }
  static void inject(const json& fault) { faults().inject(fault); }
  static void clearFaults() { faults().clear(); }
  static int fired() { return faults().fired(); }

  static EstimationParameter parameter() {
    EstimationParameter p;
    p.heightInCm = 170;
    p.weightInKg = 62.5;
    p.age = 35;
    p.frontImage = Image::fromFile(kExamplePhotos + "side-3024x4032.jpg", kUploadPhotoWidth);
    p.sideImage = p.frontImage;
    return p;
  }

  static RequestCallback recordInto(Answer& answer) {
    return [&answer](std::shared_ptr<EstimationRequest> record, std::optional<Errors> errors) {
      ++answer.calls;
      answer.record = std::move(record);
      answer.errors = std::move(errors);
    };
  }

  // Drives the queue until @p answer has a call; a stalled step is then given
  // its 45 s on the fake clock once the fault has caught the request.
  static void settle(const Answer& answer, bool stalls) {
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (answer.calls == 0 && std::chrono::steady_clock::now() < deadline) {
      queue_->runFor(50ms);
      if (stalls && fired() > 0) {
        clock_->advance(46s);
        queue_->wake();
      }
    }
    queue_->runFor(100ms);  // a second call would show here
  }

  static std::size_t photoFilesLeft() {
    std::size_t files = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(
             root_->path() / ("corvenza-" + std::to_string(::geteuid())), ec)) {
      // The owners folder holds each live process's lock, not photos.
      if (entry.is_regular_file() && entry.path().parent_path().filename() != "owners") ++files;
    }
    return files;
  }

  // The next call is served as usual once the fault is gone.
  static void expectServedAgain() {
    clearFaults();
    Answer answer;
    CorvenzaEnterprise::listEstimationRequests(1, std::nullopt,
                                               [&answer](auto, auto, std::optional<Errors> errors) {
                                                 ++answer.calls;
                                                 answer.errors = std::move(errors);
                                               });
    settle(answer, false);
    ASSERT_EQ(answer.calls, 1);
    EXPECT_FALSE(answer.errors) << answer.errors->front().localizedDescription();
  }

  static std::unique_ptr<TempDir> root_;
  static std::unique_ptr<EmulatorProcess> emulator_;
  static std::shared_ptr<FakeClock> clock_;
  static std::shared_ptr<MainQueue> queue_;
};

std::unique_ptr<TempDir> FaultSuiteTest::root_;
std::unique_ptr<EmulatorProcess> FaultSuiteTest::emulator_;
std::shared_ptr<FakeClock> FaultSuiteTest::clock_;
std::shared_ptr<MainQueue> FaultSuiteTest::queue_;

TEST_F(FaultSuiteTest, EveryStepOfACreationFailsOnceNamingItsStep) {
  struct Step {
    const char* name;
    json target;
    const char* step;
    // When the fault must wait for the creation to reach its photo.
    std::optional<EstimationProgressType> injectAt = std::nullopt;
    bool signOutFirst = false;  // token and credentials are fetched only when missing
  };
  const Step steps[] = {
      {"token", {{"route", "auth"}}, "create", std::nullopt, true},
      {"credentials",
       {{"route", "identity"}, {"field", "GetCredentialsForIdentity"}},
       "create",
       std::nullopt,
       true},
      {"create", {{"route", "graphql"}, {"field", "createBodysizeEstimation"}}, "create"},
      {"front upload",
       {{"route", "storage"}, {"method", "PUT"}},
       "front photo",
       EstimationProgressType::setParameter},
      {"front attach", {{"route", "graphql"}, {"field", "attachFrontImage"}}, "front photo"},
      {"side upload",
       {{"route", "storage"}, {"method", "PUT"}},
       "side photo",
       EstimationProgressType::putFrontImage},
      {"side attach", {{"route", "graphql"}, {"field", "attachSideImage"}}, "side photo"},
      {"read back", {{"route", "graphql"}, {"field", "getBodysizeEstimation"}}, "read back"},
  };
  const auto photo = parameter();
  ASSERT_TRUE(photo.frontImage);
  for (const auto& step : steps) {
    for (const auto& action : kActions) {
      SCOPED_TRACE(std::string(step.name) + " " + action.dump());
      json fault = step.target;
      fault.update(action);
      if (step.signOutFirst) CorvenzaEnterprise::clearCredentials();
      if (step.injectAt) {
        CorvenzaEnterprise::shared().setDelegate(
            std::make_shared<InjectAt>(*step.injectAt, [fault] { inject(fault); }));
      } else {
        inject(fault);
      }
      Answer answer;
      CorvenzaEnterprise::createEstimationRequest(photo, recordInto(answer));
      settle(answer, action["action"] == "stall");

      ASSERT_EQ(answer.calls, 1);
      ASSERT_TRUE(answer.errors);
      const auto& error = answer.errors->front();
      EXPECT_FALSE(error.localizedDescription().empty());
      EXPECT_EQ(error.userInfoValue(error_info::kStep), step.step)
          << error.domain() << " " << error.code() << " " << error.localizedDescription();
      if (std::string(step.step) != "create") {
        EXPECT_TRUE(error.userInfoValue(error_info::kRequestId)) << "the request left is named";
      }
      if (action["action"] == "stall") {
        EXPECT_EQ(error.code(), 1995);
      }
      EXPECT_EQ(photoFilesLeft(), 0u);
      CorvenzaEnterprise::shared().setDelegate(nullptr);
      if (step.signOutFirst && action["action"] == "stall") {
        // The stalled fetch is let go when the user signs out again.
        CorvenzaEnterprise::clearCredentials();
      }
      expectServedAgain();
    }
  }
}

TEST_F(FaultSuiteTest, ReadsAndChangesFailOnceAndTheNextCallIsServed) {
  // A request to read and change, made before any fault.
  Answer created;
  CorvenzaEnterprise::createEstimationRequest(parameter(), recordInto(created));
  settle(created, false);
  ASSERT_TRUE(created.record) << created.errors->front().localizedDescription();
  const auto id = created.record->id.value_or("");
  auto change = parameter();
  change.age = 40;

  struct Operation {
    const char* field;
    std::function<void(Answer&)> start;
  };
  const Operation operations[] = {
      {"getBodysizeEstimation",
       [&](Answer& a) { CorvenzaEnterprise::getEstimationRequest(id, recordInto(a)); }},
      {"listBodysizeEstimations",
       [](Answer& a) {
         CorvenzaEnterprise::listEstimationRequests(std::nullopt, std::nullopt,
                                                    [&a](auto, auto, auto errors) {
                                                      ++a.calls;
                                                      a.errors = std::move(errors);
                                                    });
       }},
      {"updateBodysizeEstimation",
       [&](Answer& a) { CorvenzaEnterprise::updateEstimationRequest(id, change, recordInto(a)); }},
      {"deleteBodysizeEstimation",
       [&](Answer& a) { CorvenzaEnterprise::deleteEstimationRequest(id, recordInto(a)); }},
  };
  for (const auto& operation : operations) {
    for (const auto& action : kActions) {
      SCOPED_TRACE(std::string(operation.field) + " " + action.dump());
      json fault = {{"route", "graphql"}, {"field", operation.field}};
      fault.update(action);
      inject(fault);
      Answer answer;
      operation.start(answer);
      settle(answer, action["action"] == "stall");
      ASSERT_EQ(answer.calls, 1);
      ASSERT_TRUE(answer.errors);
      EXPECT_FALSE(answer.errors->front().localizedDescription().empty());
      if (action["action"] == "stall") {
        EXPECT_EQ(answer.errors->front().code(), 1995);
      }
      expectServedAgain();
    }
  }
}

// Tells whether a subscription went live.
class LiveRecorder final : public CorvenzaEnterpriseDelegate {
 public:
  void estimationProgressDidChange(EstimationProgressType) override {}
  void estimationSubscriptionDidStart(EstimationEventKind) override { ++started; }
  int started = 0;
};

TEST_F(FaultSuiteTest, SubscriptionFaultsEndInOneErrorOrARecoveredSubscription) {
  struct Case {
    json action;
    bool recovers;  // an unreadable frame is ignored; the start is repeated after its time-out
  };
  for (const auto& [action, recovers] :
       {Case{{{"action", "fail"}, {"status", 500}}, false}, Case{{{"action", "drop"}}, true},
        Case{{{"action", "malformed"}}, true}}) {
    SCOPED_TRACE(action.dump());
    json fault = {{"route", "realtime"}, {"field", "onUpdateBodysizeEstimation"}};
    fault.update(action);
    inject(fault);
    auto live = std::make_shared<LiveRecorder>();
    CorvenzaEnterprise::shared().setDelegate(live);
    Answer answer;
    CorvenzaEnterprise::subscribeUpdateOfEstimationRequests(recordInto(answer), "faults");
    // The start's acknowledgement is awaited for 15 s before the connection is renewed.
    queue_->runUntil([&] { return answer.calls > 0 || live->started > 0; }, 40s);
    queue_->runFor(200ms);
    if (recovers) {
      EXPECT_EQ(live->started, 1);
      EXPECT_EQ(answer.calls, 0);
    } else {
      EXPECT_EQ(live->started, 0);
      ASSERT_EQ(answer.calls, 1);
      ASSERT_TRUE(answer.errors);
      EXPECT_FALSE(answer.errors->front().localizedDescription().empty());
    }
    CorvenzaEnterprise::unsubscribeAll();
    expectServedAgain();
  }
}

}  // namespace
}  // namespace corvenza::test
