// The facade end to end against the emulator: start-up from a bundle, a
// creation with two real photos, the estimate arriving, and the reads and
// changes that follow. The facade is one per process, so every facade-level
// test lives here and each starts from a fresh state.

#include <corvenza/config.h>
#include <corvenza/direct_token_provider.h>
#include <corvenza/enterprise.h>
#include <corvenza/image.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <vector>

#include "auth/token_provider_environment.h"
#include "integration/emulator_http_client.h"
#include "platform/device/key_store.h"
#include "requests/client_state.h"
#include "testkit/emulator_process.h"
#include "testkit/temp_dir.h"

namespace corvenza::test {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

constexpr auto kStepLimit = 60s;
// The estimator decides two seconds after both photos are attached.
constexpr auto kEstimateLimit = 30s;

const std::string kFrontPhoto = CORVENZA_SOURCE_DIR "/examples/photos/front-4032x3024-exif6.jpg";
const std::string kSidePhoto = CORVENZA_SOURCE_DIR "/examples/photos/side-3024x4032.jpg";

struct RequestOutcome {
  bool called = false;
  std::shared_ptr<EstimationRequest> request;
  std::optional<Errors> errors;
};

struct ListOutcome {
  bool called = false;
  std::optional<std::vector<std::shared_ptr<EstimationRequest>>> requests;
  std::optional<std::string> nextToken;
  std::optional<Errors> errors;
};

class ProgressRecorder final : public CorvenzaEnterpriseDelegate {
 public:
  void estimationProgressDidChange(EstimationProgressType progress) override {
    std::lock_guard lock(mutex_);
    seen_.push_back(progress);
  }
  std::vector<EstimationProgressType> seen() const {
    std::lock_guard lock(mutex_);
    return seen_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<EstimationProgressType> seen_;
};

int measurementCount(const EstimationResult& r) {
  int count = 0;
  for (const auto& value :
       {r.neckCircumference, r.shoulderWidth, r.bicepCircumference, r.sleeveLength,
        r.chestCircumference, r.waistCircumference, r.hipCircumference, r.wristCircumference,
        r.inseamLength, r.outseamLength, r.totalLength, r.highHipCircumference,
        r.midThichCircumference, r.thighCircumference, r.kneeCircumference, r.calfCircumference,
        r.backLength, r.underBust}) {
    if (value && *value > 0) ++count;
  }
  return count;
}

class CreateFlowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = std::make_unique<TempDir>();
    const auto bundle = root_->path() / "bundle";
    emulator_ = std::make_unique<EmulatorProcess>(
        CORVENZA_EMULATOR_PATH, std::vector<std::string>{"--write-bundle", bundle.string()});
    if (!emulator_->ok()) return;
    // The emulator writes the bundle itself; older builds of it did not.
    if (!std::filesystem::exists(bundle / "corvenza-config.json")) {
      std::filesystem::create_directories(bundle);
      const auto region = emulator_->endpoint("region");
      const json config = {
          {"graph_ql_endpoint", emulator_->endpoint("graphql")},   {"graph_ql_region", region},
          {"bucket_name", emulator_->endpoint("bucket")},          {"bucket_region", region},
          {"id_pool_id", emulator_->endpoint("identity_pool_id")}, {"id_pool_region", region},
          {"encryption_key", emulator_->endpoint("kms_key_id")}};
      std::ofstream(bundle / "corvenza-config.json") << config.dump();
    }
    setenv("AWS_ENDPOINT_URL_COGNITO_IDENTITY", emulator_->endpoint("identity").c_str(), 1);
    setenv("AWS_ENDPOINT_URL_S3", emulator_->endpoint("s3").c_str(), 1);
    // Keep the user's own keychain out of it.
    setenv("CORVENZA_KEYCHAIN_DIR", (root_->path() / "keychain").c_str(), 1);
    Bundle::setMainBundleDirectory(bundle);
  }
  static void TearDownTestSuite() {
    emulator_.reset();
    root_.reset();
  }

  void SetUp() override {
    ASSERT_TRUE(emulator_->ok()) << emulator_->error();
    signIn("alice");
  }
  void TearDown() override {
    detail::resetSharedInstanceForTesting();
    if (queue_) queue_->stop();
  }

  // A fresh facade for @p user, on a main queue this test drives.
  void signIn(const std::string& user) {
    detail::resetSharedInstanceForTesting();
    if (queue_) queue_->stop();
    queue_ = MainQueue::callerDriven();
    CorvenzaEnterprise::setMainQueue(queue_);
    // One keychain per user, so one user's stored token never serves another.
    auto environment = std::make_shared<DefaultTokenProvider::Environment>();
    environment->keyStore =
        device::makeKeychainStore(auth::kKeychainPrefix, root_->path() / ("keychain-" + user));
    environment->now = [] { return std::chrono::system_clock::now(); };
    provider_ = std::make_shared<DirectTokenProvider>(
        emulator_->endpoint("auth"), emulator_->endpoint("api_key"), std::move(environment));
    provider_->setUserId(user);
    CorvenzaEnterprise::initialize(provider_);
  }

  std::string identityId() const {
    const auto token = provider_->token();
    return token ? token->identityId : std::string();
  }

  static EstimationParameter parameter() {
    EstimationParameter p;
    p.heightInCm = 170;
    p.weightInKg = 62.5;
    p.age = 35;
    p.gender = Gender::female();
    p.frontImage = Image::fromFile(kFrontPhoto);
    p.sideImage = Image::fromFile(kSidePhoto);
    return p;
  }

  RequestOutcome await(const std::function<void(RequestCallback)>& start,
                       std::chrono::seconds limit = kStepLimit) {
    auto outcome = std::make_shared<RequestOutcome>();
    start([outcome](std::shared_ptr<EstimationRequest> request, std::optional<Errors> errors) {
      outcome->called = true;
      outcome->request = std::move(request);
      outcome->errors = std::move(errors);
    });
    queue_->runUntil([&] { return outcome->called; }, limit);
    return *outcome;
  }

  RequestOutcome create(const EstimationParameter& p) {
    return await(
        [&](RequestCallback cb) { CorvenzaEnterprise::createEstimationRequest(p, std::move(cb)); });
  }
  RequestOutcome get(const std::string& id) {
    return await(
        [&](RequestCallback cb) { CorvenzaEnterprise::getEstimationRequest(id, std::move(cb)); });
  }
  ListOutcome list(std::optional<int> limit = std::nullopt,
                   std::optional<std::string> nextToken = std::nullopt) {
    auto outcome = std::make_shared<ListOutcome>();
    CorvenzaEnterprise::listEstimationRequests(limit, std::move(nextToken),
                                               [outcome](auto requests, auto token, auto errors) {
                                                 outcome->called = true;
                                                 outcome->requests = std::move(requests);
                                                 outcome->nextToken = std::move(token);
                                                 outcome->errors = std::move(errors);
                                               });
    queue_->runUntil([&] { return outcome->called; }, kStepLimit);
    return *outcome;
  }
  // Every id of the user's requests, across all pages.
  std::vector<std::string> listedIds() {
    std::vector<std::string> ids;
    std::optional<std::string> token;
    do {
      const auto page = list(2, token);
      if (!page.called || !page.requests) {
        ADD_FAILURE() << "list failed";
        break;
      }
      for (const auto& r : *page.requests) ids.push_back(r->id.value_or(""));
      token = page.nextToken;
    } while (token);
    return ids;
  }

  std::string createdId() {
    const auto created = create(parameter());
    EXPECT_TRUE(created.called) << "create did not answer";
    if (!created.request) {
      ADD_FAILURE() << "create failed: "
                    << (created.errors && !created.errors->empty()
                            ? created.errors->front().localizedDescription()
                            : std::string("no error"));
      return {};
    }
    return created.request->id.value_or("");
  }

  static std::unique_ptr<TempDir> root_;
  static std::unique_ptr<EmulatorProcess> emulator_;
  std::shared_ptr<MainQueue> queue_;
  std::shared_ptr<DirectTokenProvider> provider_;
};

std::unique_ptr<TempDir> CreateFlowTest::root_;
std::unique_ptr<EmulatorProcess> CreateFlowTest::emulator_;

TEST_F(CreateFlowTest, CreationUploadsBothPhotosEncryptedAndTheEstimateCompletes) {
  auto progress = std::make_shared<ProgressRecorder>();
  CorvenzaEnterprise::shared().setDelegate(progress);

  const auto created = create(parameter());
  ASSERT_TRUE(created.called) << "create did not answer";
  ASSERT_TRUE(created.request) << created.errors->front().localizedDescription();
  const auto& record = *created.request;
  ASSERT_TRUE(record.id.has_value());
  const auto id = *record.id;
  EXPECT_EQ(record.height, 170.0);
  EXPECT_EQ(record.weight, 62.5);
  EXPECT_EQ(record.age, 35);
  EXPECT_EQ(record.gender, Gender::female());
  EXPECT_EQ(
      progress->seen(),
      (std::vector{EstimationProgressType::none, EstimationProgressType::setParameter,
                   EstimationProgressType::putFrontImage, EstimationProgressType::putSideImage}));

  // Both objects are stored under <identity>/<request>/, encrypted under the
  // configured key, owned by the identity, and scaled to 1080 wide upright.
  const auto identity = identityId();
  ASSERT_FALSE(identity.empty());
  const auto bucket = emulator_->endpoint("bucket");
  for (const std::string name : {"front.jpg", "side.jpg"}) {
    SCOPED_TRACE(name);
    const auto key = identity + "/" + id + "/" + name;
    const auto image = name == "front.jpg" ? record.frontImage : record.sideImage;
    ASSERT_TRUE(image && image->s3Object());
    EXPECT_EQ(image->s3Object()->getKeyName(), key);
    EXPECT_EQ(image->s3Object()->getBucketName(), bucket);

    const auto object = emulator_->dataDir() / "objects" / bucket / key;
    Error error("none", 0);
    const auto stored = Image::fromFile(object, &error);
    ASSERT_TRUE(stored) << object << ": " << error.localizedDescription();
    EXPECT_EQ(stored->pixelWidth(), 1080);
    EXPECT_EQ(stored->pixelHeight(), 1440);

    std::ifstream sidecarFile(emulator_->dataDir() / "objects" / ".meta" / bucket /
                              (key + ".json"));
    const auto sidecar = json::parse(sidecarFile, nullptr, false);
    ASSERT_TRUE(sidecar.is_object());
    EXPECT_EQ(sidecar.value("server_side_encryption", ""), "aws:kms");
    EXPECT_EQ(sidecar.value("kms_key_id", ""), emulator_->endpoint("kms_key_id"));
    EXPECT_EQ(sidecar.value("owner_identity_id", ""), identity);
    EXPECT_EQ(sidecar.value("content_type", ""), "image/jpeg");
  }

  // The estimate arrives with all eighteen measurements.
  std::shared_ptr<EstimationRequest> latest;
  const auto deadline = std::chrono::steady_clock::now() + kEstimateLimit;
  while (std::chrono::steady_clock::now() < deadline) {
    const auto read = get(id);
    ASSERT_TRUE(read.request) << read.errors->front().localizedDescription();
    latest = read.request;
    if (latest->status == BodysizeEstimationStatus::completed()) break;
    queue_->runFor(500ms);
  }
  ASSERT_TRUE(latest);
  ASSERT_EQ(latest->status, BodysizeEstimationStatus::completed());
  ASSERT_TRUE(latest->result);
  EXPECT_EQ(measurementCount(*latest->result), 18);

  // The thumbnails are real scaled copies stored beside the photos.
  for (const auto& thumb : {latest->frontImageThumb, latest->sideImageThumb}) {
    ASSERT_TRUE(thumb);
    auto location = thumb->s3Object();
    ASSERT_TRUE(location);
    EXPECT_NE(location->getKeyName().find("_thumb.jpg"), std::string::npos);
    auto image = Image::fromFile(emulator_->dataDir() / "objects" / location->getBucketName() /
                                 location->getKeyName());
    ASSERT_TRUE(image) << location->getKeyName();
    EXPECT_EQ(image->pixelWidth(), 240);
  }
  CorvenzaEnterprise::shared().setDelegate(nullptr);
}

TEST_F(CreateFlowTest, AProxyBuiltFromAStoredLocationLinksToThePhoto) {
  const auto created = create(parameter());
  ASSERT_TRUE(created.request) << "create failed";
  for (const auto& stored : {created.request->frontImage, created.request->sideImage}) {
    ASSERT_TRUE(stored && stored->s3Object());
    const auto where = *stored->s3Object();
    SCOPED_TRACE(where.getKeyName());
    // As an application would, from the texts it kept of an earlier record.
    const RemoteImageProxy proxy(where.getRegion(), where.getBucketName(), where.getKeyName());
    const auto link = proxy.downloadableURL();
    ASSERT_TRUE(link);
    const auto fetched = plainRequest("GET", *link, {});
    EXPECT_EQ(fetched.status, 200) << fetched.body;
    EXPECT_EQ(fetched.body.substr(0, 2), "\xff\xd8") << "not a JPEG";
  }
}

TEST_F(CreateFlowTest, ReadListUpdateAndDeleteRoundTrip) {
  const auto id = createdId();
  ASSERT_FALSE(id.empty());
  const auto other = createdId();
  ASSERT_FALSE(other.empty());

  // Small pages make the list follow its next-page tokens.
  auto ids = listedIds();
  EXPECT_NE(std::find(ids.begin(), ids.end(), id), ids.end());
  EXPECT_NE(std::find(ids.begin(), ids.end(), other), ids.end());

  EstimationParameter change;
  change.heightInCm = 181.5;
  change.weightInKg = 80;
  change.age = 41;
  change.gender = std::nullopt;
  change.failOnAutomaticEstimationFailure = true;
  const auto updated = await([&](RequestCallback cb) {
    CorvenzaEnterprise::updateEstimationRequest(id, change, std::move(cb));
  });
  ASSERT_TRUE(updated.request) << updated.errors->front().localizedDescription();
  EXPECT_EQ(updated.request->id, id);

  const auto read = get(id);
  ASSERT_TRUE(read.request) << read.errors->front().localizedDescription();
  EXPECT_EQ(read.request->height, 181.5);
  EXPECT_EQ(read.request->weight, 80.0);
  EXPECT_EQ(read.request->age, 41);
  EXPECT_FALSE(read.request->gender.has_value());
  // An update never touches the fail flag.
  EXPECT_EQ(read.request->failOnAutomaticEstimationFailure, std::optional(false));

  const auto deleted = await(
      [&](RequestCallback cb) { CorvenzaEnterprise::deleteEstimationRequest(id, std::move(cb)); });
  ASSERT_TRUE(deleted.request) << deleted.errors->front().localizedDescription();
  EXPECT_EQ(deleted.request->id, id);
  EXPECT_FALSE(deleted.request->status.has_value());

  const auto gone = get(id);
  ASSERT_TRUE(gone.called);
  EXPECT_FALSE(gone.request);
  ASSERT_TRUE(gone.errors && gone.errors->size() == 1);
  EXPECT_EQ(gone.errors->front().domain(), "CorvenzaError");
  EXPECT_EQ(gone.errors->front().code(), 2000);

  ids = listedIds();
  EXPECT_EQ(std::find(ids.begin(), ids.end(), id), ids.end());
  EXPECT_NE(std::find(ids.begin(), ids.end(), other), ids.end());
}

TEST_F(CreateFlowTest, TwentyFiveRequestsComeInPagesOfTenFiveAndNoMore) {
  signIn("pager");  // a user of their own, so earlier tests' requests do not count
  auto p = parameter();
  // Small photos keep the 25 uploads quick; the list is what is under test.
  p.frontImage = Image::fromPixels(30, 40, std::vector<std::uint8_t>(30 * 40 * 3, 90));
  p.sideImage = Image::fromPixels(30, 40, std::vector<std::uint8_t>(30 * 40 * 3, 160));
  std::set<std::string> created;
  for (int i = 0; i < 25; ++i) {
    const auto outcome = create(p);
    ASSERT_TRUE(outcome.request) << "creation " << i;
    created.insert(outcome.request->id.value_or(""));
  }
  ASSERT_EQ(created.size(), 25u);

  std::vector<std::size_t> pageSizes;
  std::set<std::string> listed;
  std::optional<std::string> token;
  do {
    const auto page = list(10, token);
    ASSERT_TRUE(page.called && page.requests) << "page " << pageSizes.size();
    pageSizes.push_back(page.requests->size());
    for (const auto& r : *page.requests) listed.insert(r->id.value_or(""));
    token = page.nextToken;
  } while (token && pageSizes.size() < 10);
  EXPECT_EQ(pageSizes, (std::vector<std::size_t>{10, 10, 5}));
  EXPECT_EQ(listed, created);
}

TEST_F(CreateFlowTest, AnotherUserCanNeitherSeeNorChangeARequest) {
  const auto id = createdId();
  ASSERT_FALSE(id.empty());
  const auto owner = identityId();

  signIn("mallory");
  ASSERT_TRUE(list().called);  // fetches mallory's token
  ASSERT_NE(identityId(), owner);

  const auto read = get(id);
  ASSERT_TRUE(read.called);
  EXPECT_FALSE(read.request);
  ASSERT_TRUE(read.errors && read.errors->size() == 1);
  // Someone else's request reads exactly like one that does not exist.
  EXPECT_EQ(read.errors->front().code(), 2000);

  const auto ids = listedIds();
  EXPECT_EQ(std::find(ids.begin(), ids.end(), id), ids.end());

  EstimationParameter change;
  change.heightInCm = 100;
  const auto updated = await([&](RequestCallback cb) {
    CorvenzaEnterprise::updateEstimationRequest(id, change, std::move(cb));
  });
  ASSERT_TRUE(updated.called);
  EXPECT_FALSE(updated.request);
  const auto deleted = await(
      [&](RequestCallback cb) { CorvenzaEnterprise::deleteEstimationRequest(id, std::move(cb)); });
  ASSERT_TRUE(deleted.called);
  EXPECT_FALSE(deleted.request);

  // The owner still has it, unchanged.
  signIn("alice");
  const auto mine = get(id);
  ASSERT_TRUE(mine.request) << mine.errors->front().localizedDescription();
  EXPECT_EQ(mine.request->height, 170.0);
}

}  // namespace
}  // namespace corvenza::test
