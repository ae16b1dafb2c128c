#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include "auth/developer_identity_provider.h"
#include "requests/file_util.h"
#include "requests/operations.h"
#include "requests_fixture.h"
#include "testkit/fake_clock.h"

namespace corvenza::test {
namespace {

using Json = nlohmann::json;
using namespace std::chrono_literals;

class RecordingDelegate final : public CorvenzaEnterpriseDelegate {
 public:
  void estimationProgressDidChange(EstimationProgressType progress) override {
    seen.push_back(progress);
  }
  void estimationUploadDidProgress(EstimationProgressType progress, std::uint64_t sent,
                                   std::uint64_t total) override {
    uploads.push_back({progress, sent, total});
  }
  struct Upload {
    EstimationProgressType progress;
    std::uint64_t sent;
    std::uint64_t total;
    bool operator==(const Upload&) const = default;
  };
  std::vector<EstimationProgressType> seen;
  std::vector<Upload> uploads;
};

class CreateTest : public RequestsTest {
 protected:
  void SetUp() override {
    RequestsTest::SetUp();
    clock_ = std::make_shared<FakeClock>();
    queue_ = MainQueue::callerDriven(clock_);
    CorvenzaEnterprise::setMainQueue(queue_);
    delegate_ = std::make_shared<RecordingDelegate>();
    CorvenzaEnterprise::shared().setDelegate(delegate_);
    parameter_.heightInCm = 170.5;
    parameter_.weightInKg = 62.25;
    parameter_.age = 35;
    parameter_.gender = Gender::female();
    parameter_.frontImage = photo(8, 6);
    parameter_.sideImage = photo(6, 8);
  }

  static std::shared_ptr<const Image> photo(int w, int h) {
    return Image::fromPixels(w, h, std::vector<std::uint8_t>(w * h * 3, 128));
  }

  static Json created(const std::string& id) {
    return {{"data", {{"createBodysizeEstimation", minimumObject(id)}}}};
  }
  static Json attached(const char* root, const std::string& id) {
    return {{"data", {{root, minimumObject(id)}}}};
  }

  /// Answers the create and both attaches successfully; the read stays open.
  void answerUpToTheRead(const std::string& id) {
    gateway_->answerJson(0, created(id));
    drain();
    gateway_->answerJson(1, attached("attachFrontImage", id));
    drain();
    gateway_->answerJson(2, attached("attachSideImage", id));
    drain();
  }

  std::shared_ptr<FakeClock> clock_;
  std::shared_ptr<RecordingDelegate> delegate_;
  EstimationParameter parameter_;
};

TEST_F(CreateTest, SuccessRunsTheThreeMutationsInOrderThenReadsBack) {
  Outcome out;
  CorvenzaEnterprise::createEstimationRequest(parameter_, out.callback());
  ASSERT_EQ(gateway_->callCount(), 1u);
  auto create = gateway_->call(0);
  EXPECT_TRUE(create.isMutation);
  EXPECT_EQ(create.request.query.size(), 361u);
  EXPECT_EQ(*create.request.variables, (Json{{"input",
                                              {{"age", 35},
                                               {"failOnAutomaticEstimationFailure", false},
                                               {"gender", "female"},
                                               {"height", 170.5},
                                               {"weight", 62.25}}}}));

  gateway_->answerJson(0, created("req-9"));
  drain();
  ASSERT_EQ(gateway_->callCount(), 2u);
  auto front = gateway_->call(1);
  EXPECT_EQ(front.request.query.size(), 348u);
  EXPECT_EQ((*front.request.variables)["id"], "req-9");
  EXPECT_EQ((*front.request.variables)["image"]["mimeType"], "image/jpeg");
  EXPECT_EQ(gateway_->callCount(), 2u);  // strictly one step at a time

  gateway_->answerJson(1, attached("attachFrontImage", "req-9"));
  drain();
  ASSERT_EQ(gateway_->callCount(), 3u);
  EXPECT_EQ(gateway_->call(2).request.query.size(), 346u);

  gateway_->answerJson(2, attached("attachSideImage", "req-9"));
  drain();
  ASSERT_EQ(gateway_->callCount(), 4u);
  auto read = gateway_->call(3);
  EXPECT_FALSE(read.isMutation);
  EXPECT_EQ(read.request.query.size(), 1815u);
  EXPECT_EQ(out.calls, 0);

  gateway_->answerJson(3,
                       {{"data", {{"getBodysizeEstimation", fullObject("req-9", "requested")}}}});
  drain();
  ASSERT_EQ(out.calls, 1);
  ASSERT_TRUE(out.record);
  EXPECT_EQ(out.record->id, "req-9");
  EXPECT_EQ(out.record->gender, Gender::female());  // the full shape, not the minimum one
  EXPECT_FALSE(out.errors);
  EXPECT_EQ(delegate_->seen,
            (std::vector<EstimationProgressType>{
                EstimationProgressType::none, EstimationProgressType::setParameter,
                EstimationProgressType::putFrontImage, EstimationProgressType::putSideImage}));
  EXPECT_EQ(CorvenzaEnterprise::shared().estimationProgress(),
            EstimationProgressType::putSideImage);
  for (const char* line : {"\"[SPEED_TEST]:setParam:", "\"[SPEED_TEST]:endParam:",
                           "\"[SPEED_TEST]:endFront:", "\"[SPEED_TEST]:endSide :"}) {
    EXPECT_TRUE(console_.contains(line)) << line;
  }
  // No time-out is left to fire after success.
  clock_->advance(120s);
  drain();
  EXPECT_EQ(out.calls, 1);
}

TEST_F(CreateTest, UploadBytesReachTheDelegateOnTheMainQueueWithTheStageTheyBelongTo) {
  Outcome out;
  CorvenzaEnterprise::createEstimationRequest(parameter_, out.callback());
  gateway_->answerJson(0, created("req-1"));
  drain();
  // Each attach carries its photo's upload; its bytes arrive on a transport thread.
  const auto front = gateway_->call(1).request;
  ASSERT_EQ(front.uploads.size(), 1u);
  ASSERT_TRUE(front.uploadProgress);
  std::thread([&] { front.uploadProgress(front.uploads[0], 40, 80); }).join();
  EXPECT_TRUE(delegate_->uploads.empty());
  drain();
  gateway_->answerJson(1, attached("attachFrontImage", "req-1"));
  drain();
  const auto side = gateway_->call(2).request;
  side.uploadProgress(side.uploads.at(0), 80, 80);
  drain();
  using Upload = RecordingDelegate::Upload;
  EXPECT_EQ(delegate_->uploads,
            (std::vector<Upload>{{EstimationProgressType::setParameter, 40, 80},
                                 {EstimationProgressType::putFrontImage, 80, 80}}));
}

TEST_F(CreateTest, WithoutBothPhotosTheCallerHearsWhichIsMissingAndNothingIsSent) {
  struct Case {
    bool front;
    bool side;
    const char* detail;
  };
  for (auto [front, side, detail] :
       {Case{true, false, "The estimation parameter has no side photo"},
        Case{false, true, "The estimation parameter has no front photo"},
        Case{false, false, "The estimation parameter has neither a front nor a side photo"}}) {
    SCOPED_TRACE(detail);
    auto parameter = parameter_;
    if (!front) parameter.frontImage.reset();
    if (!side) parameter.sideImage.reset();
    Outcome out;
    CorvenzaEnterprise::createEstimationRequest(parameter, out.callback());
    EXPECT_EQ(out.calls, 0) << "never inline";
    clock_->advance(60s);
    drain();
    EXPECT_EQ(gateway_->callCount(), 0u);
    ASSERT_EQ(out.calls, 1);
    ASSERT_EQ(out.errors->size(), 1u);
    EXPECT_EQ(out.errors->front().code(), 2000);
    EXPECT_EQ(out.errors->front().userInfoValue(error_info::kDetail), detail);
    EXPECT_TRUE(delegate_->seen.empty());
  }
  EXPECT_TRUE(console_.contains("\"[SPEED_TEST]:setParam:"));
}

TEST_F(CreateTest, CreatedObjectWithErrorsStillProceeds) {
  CorvenzaEnterprise::createEstimationRequest(parameter_, {});
  auto answer = created("r");
  answer["errors"] = Json::array({{{"message", "partial"}}});
  gateway_->answerJson(0, answer);
  drain();
  EXPECT_EQ(gateway_->callCount(), 2u);
}

TEST_F(CreateTest, CreateFailuresEndTheChain) {
  for (int variant = 0; variant < 2; ++variant) {
    SCOPED_TRACE(variant == 0 ? "transport error" : "graphql errors");
    gateway_->forget();  // its handlers hold it
    gateway_ = std::make_shared<FakeGraphQLGateway>();
    useGateway(CorvenzaEnterprise::shared().impl(), gateway_);
    Outcome out;
    CorvenzaEnterprise::createEstimationRequest(parameter_, out.callback());
    if (variant == 0) {
      gateway_->fail(0, Error("Transport", -1004, std::nullopt, "could not connect"));
    } else {
      gateway_->answerJson(0, {{"data", {{"createBodysizeEstimation", nullptr}}},
                               {"errors", {{{"message", "bad input"}}}}});
    }
    drain();
    ASSERT_EQ(out.calls, 1);
    EXPECT_FALSE(out.record);
    EXPECT_EQ(out.errors->size(), 1u);
    EXPECT_EQ(CorvenzaEnterprise::shared().estimationProgress(), EstimationProgressType::none);
    clock_->advance(100s);
    drain();
    EXPECT_EQ(out.calls, 1);  // no time-out follows
    EXPECT_EQ(gateway_->callCount(), 1u);
  }
}

TEST_F(CreateTest, EmptyErrorsArrayOnAnAttachEndsTheCreation) {
  Outcome out;
  CorvenzaEnterprise::createEstimationRequest(parameter_, out.callback());
  gateway_->answerJson(0, created("r"));
  drain();
  gateway_->answerJson(1, {{"errors", Json::array()}});
  drain();
  ASSERT_EQ(out.calls, 1);
  ASSERT_TRUE(out.errors);
  EXPECT_TRUE(out.errors->empty());
  EXPECT_EQ(gateway_->callCount(), 2u);
}

TEST_F(CreateTest, FrontTransportErrorReachesDelegateBeforeCallback) {
  std::vector<std::string> order;
  struct OrderDelegate : CorvenzaEnterpriseDelegate {
    std::vector<std::string>* order;
    void estimationProgressDidChange(EstimationProgressType p) override {
      if (p == EstimationProgressType::putFrontImage) order->push_back("putFrontImage");
    }
  };
  auto delegate = std::make_shared<OrderDelegate>();
  delegate->order = &order;
  CorvenzaEnterprise::shared().setDelegate(delegate);
  CorvenzaEnterprise::createEstimationRequest(parameter_, [&](auto, std::optional<Errors> errors) {
    const int code = errors && !errors->empty() ? errors->front().code() : 0;
    order.push_back("callback " + std::to_string(code));
  });
  gateway_->answerJson(0, created("r"));
  drain();
  gateway_->fail(1, Error("Transport", -1005, std::nullopt, "upload failed"));
  drain();
  EXPECT_EQ(order, (std::vector<std::string>{"putFrontImage", "callback -1005"}));
  clock_->advance(100s);
  drain();
  EXPECT_EQ(order.size(), 2u);
  EXPECT_EQ(gateway_->callCount(), 2u);  // the side photo is never sent
}

TEST_F(CreateTest, UnansweredStepTimesOutOnceAndCancelsTheOperation) {
  for (int step = 0; step < 3; ++step) {
    SCOPED_TRACE(step);
    gateway_->forget();  // its handlers hold it
    gateway_ = std::make_shared<FakeGraphQLGateway>();
    useGateway(CorvenzaEnterprise::shared().impl(), gateway_);
    Outcome out;
    CorvenzaEnterprise::createEstimationRequest(parameter_, out.callback());
    if (step >= 1) {
      gateway_->answerJson(0, created("r"));
      drain();
    }
    if (step >= 2) {
      gateway_->answerJson(1, attached("attachFrontImage", "r"));
      drain();
    }
    clock_->advance(44s);
    drain();
    EXPECT_EQ(out.calls, 0);
    clock_->advance(1s);
    drain();
    ASSERT_EQ(out.calls, 1);
    EXPECT_EQ(out.errors->front().code(), 1995);
    EXPECT_TRUE(gateway_->wasCancelled(static_cast<std::size_t>(step)));
    EXPECT_TRUE(console_.contains(
        "\"CorvenzaError: appSyncClientTimeOut in createEstimationRequest mutation\""));
    clock_->advance(100s);
    drain();
    EXPECT_EQ(out.calls, 1);
  }
}

TEST_F(CreateTest, AnswerAfter44SecondsGivesTheNextStepAFresh45) {
  Outcome out;
  CorvenzaEnterprise::createEstimationRequest(parameter_, out.callback());
  clock_->advance(44s);
  drain();
  gateway_->answerJson(0, created("r"));
  drain();
  clock_->advance(44s);
  drain();
  EXPECT_EQ(out.calls, 0);
  clock_->advance(1s);
  drain();
  ASSERT_EQ(out.calls, 1);
  EXPECT_EQ(out.errors->front().code(), 1995);
}

// On a slow link the photo is answering while its bytes move: the 45 s count
// again from the last of them, and a photo that stops moving still times out.
TEST_F(CreateTest, AnUploadThatKeepsMovingOutlastsTheLimitAndAStalledOneDoesNot) {
  Outcome out;
  CorvenzaEnterprise::createEstimationRequest(parameter_, out.callback());
  gateway_->answerJson(0, created("r"));
  drain();
  const auto front = gateway_->call(1).request;
  ASSERT_TRUE(front.uploadProgress);
  for (int i = 1; i <= 3; ++i) {
    clock_->advance(40s);
    front.uploadProgress(front.uploads.at(0), 1000 * i, 4000);
    drain();
  }
  EXPECT_EQ(out.calls, 0) << "120 s in all, bytes every 40 s";
  clock_->advance(44s);
  drain();
  EXPECT_EQ(out.calls, 0);
  clock_->advance(1s);
  drain();
  ASSERT_EQ(out.calls, 1);
  EXPECT_EQ(out.errors->front().code(), 1995);
}

TEST_F(CreateTest, OverlappingCreationsKeepTheirOwnTimeouts) {
  Outcome first, second;
  CorvenzaEnterprise::createEstimationRequest(parameter_, first.callback());
  clock_->advance(10s);
  CorvenzaEnterprise::createEstimationRequest(parameter_, second.callback());
  // The first finishes completely; its time-outs must all be cancelled.
  gateway_->answerJson(0, created("a"));
  drain();
  gateway_->answerJson(2, attached("attachFrontImage", "a"));
  drain();
  gateway_->answerJson(3, attached("attachSideImage", "a"));
  drain();
  gateway_->answerJson(4, {{"data", {{"getBodysizeEstimation", fullObject("a", "requested")}}}});
  drain();
  ASSERT_EQ(first.calls, 1);
  EXPECT_TRUE(first.record);
  // The second never answers: only it times out, 45 s after its own start.
  clock_->advance(44s);
  drain();
  EXPECT_EQ(second.calls, 0);
  clock_->advance(1s);
  drain();
  EXPECT_EQ(second.calls, 1);
  EXPECT_EQ(first.calls, 1);
}

TEST_F(CreateTest, WithoutAClientReportsNotInitialized) {
  useGateway(CorvenzaEnterprise::shared().impl(), nullptr);
  Outcome out;
  CorvenzaEnterprise::createEstimationRequest(parameter_, out.callback());
  drain();
  ASSERT_EQ(out.calls, 1);
  EXPECT_EQ(out.errors->front().code(), 1998);
}

}  // namespace
}  // namespace corvenza::test

namespace corvenza::test {
namespace {

class CreateTemporaryFilesTest : public CreateTest {
 protected:
  // The local files the attach mutations sent so far name.
  std::vector<std::filesystem::path> photoFiles() {
    std::vector<std::filesystem::path> files;
    for (std::size_t i = 0; i < gateway_->callCount(); ++i) {
      const auto& variables = gateway_->call(i).request.variables;
      if (variables && variables->contains("image")) {
        files.emplace_back((*variables)["image"]["localUri"].get<std::string>());
      }
    }
    return files;
  }
  static void expectAllGone(const std::vector<std::filesystem::path>& files) {
    for (const auto& file : files) EXPECT_FALSE(std::filesystem::exists(file)) << file;
  }
};

TEST_F(CreateTemporaryFilesTest, PhotoFilesAreRemovedWhenTheCreationEndsWhateverTheOutcome) {
  {
    SCOPED_TRACE("success");
    Outcome out;
    CorvenzaEnterprise::createEstimationRequest(parameter_, out.callback());
    gateway_->answerJson(0, created("ok"));
    drain();
    const auto front = photoFiles();
    ASSERT_EQ(front.size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(front[0]));  // kept while its upload may run
    gateway_->answerJson(1, attached("attachFrontImage", "ok"));
    drain();
    gateway_->answerJson(2, attached("attachSideImage", "ok"));
    drain();
    const auto both = photoFiles();
    ASSERT_EQ(both.size(), 2u);
    expectAllGone(both);
    gateway_->answerJson(3, {{"data", {{"getBodysizeEstimation", fullObject("ok", "requested")}}}});
    drain();
    ASSERT_EQ(out.calls, 1);
  }
  {
    SCOPED_TRACE("failed side attach");
    gateway_->forget();
    gateway_ = std::make_shared<FakeGraphQLGateway>();
    useGateway(CorvenzaEnterprise::shared().impl(), gateway_);
    Outcome out;
    CorvenzaEnterprise::createEstimationRequest(parameter_, out.callback());
    gateway_->answerJson(0, created("bad"));
    drain();
    gateway_->answerJson(1, attached("attachFrontImage", "bad"));
    drain();
    gateway_->answerJson(2, {{"errors", {{{"message", "refused"}}}}});
    drain();
    ASSERT_EQ(out.calls, 1);
    expectAllGone(photoFiles());
  }
  {
    SCOPED_TRACE("time-out on the front upload");
    gateway_->forget();
    gateway_ = std::make_shared<FakeGraphQLGateway>();
    useGateway(CorvenzaEnterprise::shared().impl(), gateway_);
    Outcome out;
    CorvenzaEnterprise::createEstimationRequest(parameter_, out.callback());
    gateway_->answerJson(0, created("slow"));
    drain();
    clock_->advance(45s);
    drain();
    ASSERT_EQ(out.calls, 1);
    const auto files = photoFiles();
    ASSERT_EQ(files.size(), 1u);
    expectAllGone(files);
  }
}

TEST_F(CreateTemporaryFilesTest, BothPhotosArePreparedWhileTheStepsBeforeThemAreInFlight) {
  const auto folder = requests::FileUtil::privateTemporaryDirectory();
  ASSERT_TRUE(folder);
  const auto photosIn = [&] {
    std::set<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(*folder)) {
      if (entry.path().extension() == ".jpg") files.insert(entry.path());
    }
    return files;
  };
  const auto before = photosIn();
  // Other processes of this user (tests run side by side) share the folder:
  // this creation's two photos are the new ones of one owner.
  const auto twoOfOneOwner = [&before](const std::set<std::filesystem::path>& files) {
    std::map<std::string, int> byOwner;
    for (const auto& file : files) {
      const auto name = file.filename().string();
      const auto at = name.find("owner-");
      if (!before.contains(file) && at != std::string::npos) {
        if (++byOwner[name.substr(at, 22)] == 2) return true;
      }
    }
    return false;
  };
  Outcome out;
  CorvenzaEnterprise::createEstimationRequest(parameter_, out.callback());
  ASSERT_EQ(gateway_->callCount(), 1u);  // the wire still sees one step at a time
  std::set<std::filesystem::path> ready;
  for (int i = 0; i < 3000 && !twoOfOneOwner(ready); ++i) {
    std::this_thread::sleep_for(10ms);
    ready = photosIn();
  }
  ASSERT_TRUE(twoOfOneOwner(ready)) << "both photos are prepared before the create answers";
  answerUpToTheRead("ahead");
  const auto sent = photoFiles();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_TRUE(ready.contains(sent[0]) && ready.contains(sent[1]) && sent[0] != sent[1]);
  expectAllGone(sent);
}

}  // namespace
}  // namespace corvenza::test

namespace corvenza::test {
namespace {

TEST_F(CreateTest, ReadBackHasItsOwn45SecondGuard) {
  Outcome out;
  CorvenzaEnterprise::createEstimationRequest(parameter_, out.callback());
  answerUpToTheRead("left");
  ASSERT_EQ(gateway_->callCount(), 4u);
  clock_->advance(44s);
  drain();
  EXPECT_EQ(out.calls, 0);
  clock_->advance(1s);
  drain();
  ASSERT_EQ(out.calls, 1);
  EXPECT_EQ(out.errors->front().code(), 1995);
  EXPECT_EQ(out.errors->front().userInfoValue(error_info::kStep), "read back");
  EXPECT_EQ(out.errors->front().userInfoValue(error_info::kRequestId), "left");
  EXPECT_TRUE(gateway_->wasCancelled(3));
  // A late answer changes nothing.
  gateway_->answerJson(3, {{"data", {{"getBodysizeEstimation", fullObject("left", "requested")}}}});
  drain();
  EXPECT_EQ(out.calls, 1);
}

TEST_F(CreateTest, ErrorsNameTheStepAndTheRequestLeftBehind) {
  struct Case {
    int answeredSteps;
    const char* step;
    const char* requestId;
  };
  for (auto [answered, step, requestId] :
       {Case{0, "create", nullptr}, Case{1, "front photo", "r-7"}, Case{2, "side photo", "r-7"},
        Case{3, "read back", "r-7"}}) {
    SCOPED_TRACE(step);
    gateway_->forget();
    gateway_ = std::make_shared<FakeGraphQLGateway>();
    useGateway(CorvenzaEnterprise::shared().impl(), gateway_);
    Outcome out;
    CorvenzaEnterprise::createEstimationRequest(parameter_, out.callback());
    if (answered > 0) gateway_->answerJson(0, created("r-7"));
    drain();
    if (answered > 1) gateway_->answerJson(1, attached("attachFrontImage", "r-7"));
    drain();
    if (answered > 2) gateway_->answerJson(2, attached("attachSideImage", "r-7"));
    drain();
    gateway_->answerJson(static_cast<std::size_t>(answered),
                         {{"errors", {{{"message", "refused"}}}}});
    drain();
    ASSERT_EQ(out.calls, 1);
    const auto& error = out.errors->front();
    EXPECT_EQ(error.localizedDescription(), "refused");
    EXPECT_EQ(error.userInfoValue(error_info::kStep), step);
    EXPECT_EQ(error.userInfoValue(error_info::kRequestId),
              requestId ? std::optional<std::string>(requestId) : std::nullopt);
  }
}

// The photos' folder is the identity the creation started with: signing out
// meanwhile must not leave the next photo without a key.
TEST_F(CreateTest, SigningOutMidCreationKeepsTheIdentityItStartedWith) {
  auto& impl = CorvenzaEnterprise::shared().impl();
  auto bridge = std::make_shared<auth::DeveloperAuthenticatedIdentityProvider>(
      AWSRegionType::APNortheast1, "ap-northeast-1:pool", true);
  bridge->setIdentityId("id-a");
  changeServices(impl, [&](requests::ClientServices& s) { s.developerIdentityProvider = bridge; });
  Outcome out;
  CorvenzaEnterprise::createEstimationRequest(parameter_, out.callback());
  gateway_->answerJson(0, created("r-1"));
  requests::signOut(impl);
  drain();
  ASSERT_EQ(gateway_->callCount(), 2u);
  EXPECT_EQ((*gateway_->call(1).request.variables)["image"]["key"], "id-a/r-1/front.jpg");
  EXPECT_EQ(out.calls, 0);
}

TEST_F(CreateTest, AttachAnswersOfAnotherShapeAreNotInspected) {
  Outcome out;
  CorvenzaEnterprise::createEstimationRequest(parameter_, out.callback());
  gateway_->answerJson(0, created("r"));
  drain();
  gateway_->answerJson(1, {{"data", {{"attachFrontImage", {{"unexpected", 1}}}}}});
  drain();
  gateway_->answerJson(2, {{"data", {{"attachSideImage", "not even an object"}}}});
  drain();
  ASSERT_EQ(gateway_->callCount(), 4u);  // on to the read
  EXPECT_EQ(out.calls, 0);
}

}  // namespace
}  // namespace corvenza::test
