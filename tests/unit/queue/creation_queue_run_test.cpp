#include <corvenza/creation_queue.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <nlohmann/json.hpp>

#include "auth/developer_identity_provider.h"
#include "platform/http/http_transport.h"
#include "platform/identity/identity_service_messages.h"
#include "requests/client_state.h"
#include "testkit/client_services.h"
#include "testkit/console_capture.h"
#include "testkit/fake_graphql_gateway.h"
#include "testkit/fake_http_transport.h"
#include "testkit/temp_dir.h"

namespace corvenza::test {
namespace {

using Json = nlohmann::json;

class FixedTokenProvider final : public CorvenzaTokenProvider {
 public:
  std::optional<CorvenzaToken> token() const override { return CorvenzaToken("jwt", "id-a"); }
  void setToken(std::optional<CorvenzaToken>) override {}
};

std::int64_t nowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

Json listItem(const std::string& id, std::int64_t createdAt, bool withPhoto) {
  Json thumb = nullptr;
  if (withPhoto) {
    thumb = {{"__typename", "S3Object"}, {"bucket", "b"}, {"key", "id-a/" + id}, {"region", "r"}};
  }
  return {{"__typename", "BodysizeEstimation"},
          {"id", id},
          {"createdAt", createdAt},
          {"status", "requested"},
          {"frontImageThumb", thumb},
          {"sideImageThumb", nullptr},
          {"userId", "u"},
          {"failOnAutomaticEstimationFailure", false}};
}

Json fullObject(const std::string& id, double height) {
  return {{"__typename", "BodysizeEstimation"},
          {"id", id},
          {"userId", "u"},
          {"createdAt", nowSeconds()},
          {"status", "requested"},
          {"gender", "female"},
          {"age", 30},
          {"height", height},
          {"weight", 60}};
}

Json attached(const std::string& id, const char* field) {
  return {{"data",
           {{field,
             {{"__typename", "BodysizeEstimation"},
              {"id", id},
              {"createdAt", 1},
              {"status", "requested"},
              {"weight", 60},
              {"height", 170},
              {"age", 30},
              {"gender", "female"},
              {"userId", "u"},
              {"failOnAutomaticEstimationFailure", false}}}}}};
}

class CreationQueueRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EstimationClientOptions options;
    options.configuration =
        CorvenzaConfig("http://127.0.0.1:9/graphql", "ap-northeast-1", "photos", "ap-northeast-1",
                       "ap-northeast-1:pool", "ap-northeast-1", "key-1");
    options.tokenProvider = std::make_shared<FixedTokenProvider>();
    options.mainQueue = queue_;
    options.transport = FakeHttpTransport::create();
    client_ = EstimationClient::create(std::move(options));
    useGateway(client_->state(), gateway_);
    client_->state().services()->developerIdentityProvider->setIdentityId("id-a");

    CreationQueueOptions queueOptions;
    queueOptions.directory = home_.path() / "queue";
    queueOptions.initialBackoff = std::chrono::milliseconds(1);
    queueOptions.maxBackoff = std::chrono::milliseconds(2);
    queueOptions.concurrency = 1;
    creations_ = CreationQueue::open(client_, queueOptions);
  }
  void TearDown() override { gateway_->forget(); }

  static EstimationParameter parameter() {
    EstimationParameter p;
    p.heightInCm = 170;
    p.weightInKg = 60;
    p.age = 30;
    p.gender = Gender::female();
    p.frontImage = Image::fromPixels(8, 8, std::vector<std::uint8_t>(8 * 8 * 3, 120));
    p.sideImage = p.frontImage;
    return p;
  }

  /// Runs the main queue until the gateway has @p calls calls.
  void waitForCall(std::size_t calls) {
    queue_->runUntil([&] { return gateway_->callCount() >= calls; }, std::chrono::seconds(5));
    ASSERT_GE(gateway_->callCount(), calls);
  }
  std::string rootField(std::size_t index) {
    const auto& query = gateway_->call(index).request.query;
    for (const char* field : {"createBodysizeEstimation", "listBodysizeEstimations",
                              "getBodysizeEstimation", "attachFrontImage", "attachSideImage"}) {
      if (query.find(std::string(field) + "(") != std::string::npos) return field;
    }
    return query;
  }

  /// Opens a queue of its own folder, @p jobs entries at once.
  std::shared_ptr<CreationQueue> openQueue(const std::string& folder, int jobs) {
    CreationQueueOptions options;
    options.directory = home_.path() / folder;
    options.initialBackoff = std::chrono::milliseconds(1);
    options.maxBackoff = std::chrono::milliseconds(2);
    options.concurrency = jobs;
    return CreationQueue::open(client_, options);
  }

  /// Plays the service from call @p from on until the run ends: creates make
  /// "r-new", lists offer @p candidates made now without photos, and reads and
  /// attaches answer for the id they name; @p failWith, when given, answers
  /// every call instead.
  CreationQueueRunSummary serve(std::optional<CreationQueueRunSummary>& summary, std::size_t from,
                                const std::vector<std::string>& candidates,
                                const std::optional<Error>& failWith = std::nullopt) {
    std::size_t next = from;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!summary && std::chrono::steady_clock::now() < deadline) {
      queue_->runUntil([&] { return summary || gateway_->callCount() > next; },
                       std::chrono::milliseconds(200));
      for (; next < gateway_->callCount(); ++next) {
        const auto field = rootField(next);
        const auto variables = gateway_->call(next).request.variables.value_or(Json::object());
        const std::string id = variables.value("id", "r-new");
        if (failWith) {
          gateway_->fail(next, *failWith);
        } else if (field == "listBodysizeEstimations") {
          Json items = Json::array();
          for (const auto& c : candidates) items.push_back(listItem(c, nowSeconds(), false));
          gateway_->answerJson(next, {{"data",
                                       {{"listBodysizeEstimations",
                                         {{"__typename", "BodysizeEstimationConnection"},
                                          {"items", items},
                                          {"nextToken", nullptr}}}}}});
        } else if (field == "getBodysizeEstimation") {
          gateway_->answerJson(next, {{"data", {{field, fullObject(id, 170)}}}});
        } else {
          gateway_->answerJson(next, attached(id, field.c_str()));
        }
      }
    }
    EXPECT_TRUE(summary) << "the run ended";
    return summary.value_or(CreationQueueRunSummary{});
  }

  std::size_t photosStored(const std::string& folder) const {
    std::size_t count = 0;
    for (const auto& file : std::filesystem::directory_iterator(home_.path() / folder / "photos")) {
      count += file.is_regular_file();
    }
    return count;
  }

  std::shared_ptr<MainQueue> queue_ = MainQueue::callerDriven();
  std::shared_ptr<FakeGraphQLGateway> gateway_ = std::make_shared<FakeGraphQLGateway>();
  std::shared_ptr<EstimationClient> client_;
  std::shared_ptr<CreationQueue> creations_;
  TempDir home_;
  ConsoleCapture console_;
};

// The create's answer is lost: the request it made is adopted, and none that
// has photos, is too old, holds other values or belongs to another entry.
TEST_F(CreationQueueRunTest, ALostCreateAnswerAdoptsOnlyTheRequestItMade) {
  const auto first = creations_->enqueue(parameter());
  std::optional<CreationQueueRunSummary> summary;
  creations_->run({}, [&](CreationQueueRunSummary s) { summary = s; });

  // The first entry runs alone and ends owning "r-owned".
  waitForCall(1);
  ASSERT_EQ(rootField(0), "createBodysizeEstimation");
  gateway_->answerJson(0, attached("r-owned", "createBodysizeEstimation"));
  for (std::size_t call : {1u, 2u}) {
    waitForCall(call + 1);
    gateway_->answerJson(call,
                         attached("r-owned", call == 1 ? "attachFrontImage" : "attachSideImage"));
  }
  waitForCall(4);
  gateway_->answerJson(3, {{"data", {{"getBodysizeEstimation", fullObject("r-owned", 170)}}}});
  queue_->runUntil([&] { return summary.has_value(); }, std::chrono::seconds(5));
  ASSERT_TRUE(summary);
  EXPECT_EQ(summary->done, 1);

  // The second entry's create is answered by a lost connection.
  const auto second = creations_->enqueue(parameter());
  summary.reset();
  creations_->run({}, [&](CreationQueueRunSummary s) { summary = s; });
  waitForCall(5);
  ASSERT_EQ(rootField(4), "createBodysizeEstimation");
  gateway_->fail(4, http::makeTransportError(http::kTransportConnectionLost, "lost"));

  waitForCall(6);
  ASSERT_EQ(rootField(5), "listBodysizeEstimations") << "a search comes before a second create";
  const auto now = nowSeconds();
  gateway_->answerJson(
      5,
      {{"data",
        {{"listBodysizeEstimations",
          {{"__typename", "BodysizeEstimationConnection"},
           {"items",
            Json::array({listItem("r-owned", now, false), listItem("r-with-photo", now, true),
                         listItem("r-old", now - 3600, false),
                         listItem("r-other-values", now, false), listItem("r-made", now, false)})},
           {"nextToken", nullptr}}}}}});
  // Only the two that may be it are read, in order.
  waitForCall(7);
  ASSERT_EQ(rootField(6), "getBodysizeEstimation");
  EXPECT_NE(gateway_->call(6).request.variables->dump().find("r-other-values"), std::string::npos);
  gateway_->answerJson(6,
                       {{"data", {{"getBodysizeEstimation", fullObject("r-other-values", 180)}}}});
  waitForCall(8);
  EXPECT_NE(gateway_->call(7).request.variables->dump().find("r-made"), std::string::npos);
  gateway_->answerJson(7, {{"data", {{"getBodysizeEstimation", fullObject("r-made", 170)}}}});

  // Adopted: the photos go to "r-made" under this identity.
  waitForCall(9);
  ASSERT_EQ(rootField(8), "attachFrontImage");
  const auto attach = gateway_->call(8).request.variables->dump();
  EXPECT_NE(attach.find("r-made"), std::string::npos) << attach;
  EXPECT_NE(attach.find("id-a/r-made/front.jpg"), std::string::npos) << attach;
  for (std::size_t i = 0; i < gateway_->callCount(); ++i) {
    if (i != 0 && i != 4) {
      EXPECT_NE(rootField(i), "createBodysizeEstimation") << i;
    }
  }
  const auto entry = creations_->entry(second);
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->requestId, "r-made");
  EXPECT_EQ(entry->state, QueuedCreationState::created);
  EXPECT_EQ(creations_->entry(first)->requestId, "r-owned");
}

// A request that is gone when a later process resumes the entry ends it,
// instead of attaching photos to nothing for ever.
TEST_F(CreationQueueRunTest, AResumedEntryWhoseRequestIsGoneFailsWithItsPhotosRemoved) {
  const auto id = creations_->enqueue(parameter());
  creations_->run({}, [](CreationQueueRunSummary) {});
  waitForCall(1);
  gateway_->answerJson(0, attached("r-1", "createBodysizeEstimation"));
  waitForCall(2);
  gateway_->fail(1, http::makeTransportError(http::kTransportConnectionLost, "lost"));
  // The process ends here; another opens the folder.
  waitForCall(3);
  gateway_->forget();
  creations_.reset();
  CreationQueueOptions options;
  options.directory = home_.path() / "queue";
  auto resumed = CreationQueue::open(client_, options);
  ASSERT_EQ(resumed->entry(id)->state, QueuedCreationState::created);
  std::optional<CreationQueueRunSummary> summary;
  resumed->run({}, [&](CreationQueueRunSummary s) { summary = s; });
  waitForCall(1);
  ASSERT_EQ(rootField(0), "getBodysizeEstimation") << "the request is checked first";
  gateway_->answerJson(0, {{"data", {{"getBodysizeEstimation", nullptr}}}});
  queue_->runUntil([&] { return summary.has_value(); }, std::chrono::seconds(5));
  ASSERT_TRUE(summary);
  EXPECT_EQ(summary->failed, 1);
  const auto entry = resumed->entry(id);
  EXPECT_EQ(entry->state, QueuedCreationState::failed);
  ASSERT_TRUE(entry->lastError);
  EXPECT_EQ(entry->lastError->code(), static_cast<int>(CreationQueueErrorCode::requestGone));
  EXPECT_TRUE(std::filesystem::is_empty(options.directory / "photos"));
}

// Two processes sending one folder's photos would each create the requests.
TEST_F(CreationQueueRunTest, WhileAnotherProcessRunsTheFolderRunsAndDropsStandAside) {
  const auto id = creations_->enqueue(parameter());
  creations_->run({}, [](CreationQueueRunSummary) {});
  waitForCall(1);  // running: the create is in flight

  // Another opening of the folder stands for another process.
  CreationQueueOptions options;
  options.directory = home_.path() / "queue";
  auto other = CreationQueue::open(client_, options);
  std::optional<CreationQueueRunSummary> summary;
  other->run({}, [&](CreationQueueRunSummary s) { summary = s; });
  queue_->runUntil([&] { return summary.has_value(); }, std::chrono::seconds(5));
  ASSERT_TRUE(summary);
  EXPECT_TRUE(summary->runningElsewhere);
  EXPECT_EQ(summary->unfinished, 1);
  try {
    other->drop(id);
    ADD_FAILURE() << "an entry another process runs was dropped";
  } catch (const CorvenzaException& e) {
    EXPECT_EQ(e.error().code(), static_cast<int>(CreationQueueErrorCode::runningElsewhere));
  }
  EXPECT_EQ(gateway_->callCount(), 1u) << "the other opening sent nothing";
  EXPECT_TRUE(other->entry(id));
}

// Both creates' answers are lost and both entries look for their request at
// once: each must end with a request of its own, not both with the first found.
TEST_F(CreationQueueRunTest, TwoEntriesAdoptingAtOnceEachTakeARequestOfTheirOwn) {
  auto creations = openQueue("two-at-once", 2);
  const auto a = creations->enqueue(parameter());
  const auto b = creations->enqueue(parameter());
  std::optional<CreationQueueRunSummary> summary;
  creations->run({}, [&](CreationQueueRunSummary s) { summary = s; });
  waitForCall(2);
  for (std::size_t call : {0u, 1u}) {
    ASSERT_EQ(rootField(call), "createBodysizeEstimation");
    gateway_->fail(call, http::makeTransportError(http::kTransportConnectionLost, "lost"));
  }
  const auto ended = serve(summary, 2, {"r-1", "r-2"});
  EXPECT_EQ(ended.done, 2);
  const auto first = creations->entry(a)->requestId;
  const auto second = creations->entry(b)->requestId;
  ASSERT_TRUE(first && second);
  EXPECT_NE(*first, *second);
  for (std::size_t i = 2; i < gateway_->callCount(); ++i) {
    EXPECT_NE(rootField(i), "createBodysizeEstimation") << "call " << i;
  }
}

// What the folder cannot record must not be acted on: a step whose state
// could not be written is neither followed by the next nor by removing the
// photos, and the run says why it stopped.
TEST_F(CreationQueueRunTest, AStepTheFolderCannotRecordStopsTheEntryThere) {
  struct Case {
    const char* failingUpdate;  // SQL condition on NEW
    std::size_t callsSent;
  };
  for (const auto& c :
       {Case{"1", 0}, Case{"NEW.state = 'created'", 1}, Case{"NEW.state = 'done'", 4}}) {
    SCOPED_TRACE(c.failingUpdate);
    gateway_->forget();
    const std::string folder = std::string("full-") + std::to_string(c.callsSent);
    auto creations = openQueue(folder, 1);
    const auto id = creations->enqueue(parameter());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((home_.path() / folder / "creation-queue.sqlite").c_str(), &db),
              SQLITE_OK);
    const std::string trigger = std::string("CREATE TRIGGER full BEFORE UPDATE ON entries WHEN ") +
                                c.failingUpdate +
                                " BEGIN SELECT RAISE(FAIL, 'database or disk is full'); END;";
    ASSERT_EQ(sqlite3_exec(db, trigger.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);

    std::optional<CreationQueueRunSummary> summary;
    creations->run({}, [&](CreationQueueRunSummary s) { summary = s; });
    const auto ended = serve(summary, 0, {});
    EXPECT_EQ(gateway_->callCount(), c.callsSent);
    EXPECT_EQ(ended.done, 0);
    EXPECT_EQ(ended.unfinished, 1);
    ASSERT_TRUE(ended.stopReason);
    EXPECT_EQ(ended.stopReason->code(), static_cast<int>(CreationQueueErrorCode::storage));
    EXPECT_NE(ended.stopReason->localizedDescription().find("full"), std::string::npos);
    EXPECT_EQ(photosStored(folder), 2u) << "the photos stay for the next run";
    EXPECT_FALSE(creations->entry(id)->finished());
  }
}

// A refused sign-in says nothing about the creations: they are all kept,
// with their photos, for a run after the user has mended it.
TEST_F(CreationQueueRunTest, ARefusedSignInKeepsEveryEntryAndStopsTheRun) {
  const Error refusals[] = {
      CorvenzaError(
          CorvenzaErrorReason::unexpectedError,
          UserInfo{{error_info::kService, "authentication"}, {error_info::kHttpStatus, "401"}}),
      Error(identity::kIdentityServiceErrorDomain, 400, std::nullopt,
            "ResourceNotFoundException: Identity 'id-a' not found."),
  };
  int folder = 0;
  for (const auto& refusal : refusals) {
    SCOPED_TRACE(refusal.localizedDescription());
    gateway_->forget();
    const auto name = "refused-" + std::to_string(++folder);
    auto creations = openQueue(name, 1);
    creations->enqueue(parameter());
    creations->enqueue(parameter());
    std::optional<CreationQueueRunSummary> summary;
    creations->run({}, [&](CreationQueueRunSummary s) { summary = s; });
    const auto ended = serve(summary, 0, {}, refusal);
    EXPECT_EQ(ended.failed, 0);
    EXPECT_EQ(ended.unfinished, 2);
    ASSERT_TRUE(ended.stopReason);
    EXPECT_EQ(ended.stopReason->domain(), refusal.domain());
    EXPECT_EQ(photosStored(name), 4u);
    for (const auto& entry : creations->entries()) {
      EXPECT_EQ(entry.state, QueuedCreationState::pending);
    }
  }
}

// A run lock that cannot be opened is the folder's trouble, not another process.
// A link that drops every upload part way: after three cut uploads the run
// leaves the entry for later instead of spending the user's data for ever.
TEST_F(CreationQueueRunTest, AnUploadCutAgainAndAgainIsLeftForALaterRun) {
  const auto id = creations_->enqueue(parameter());
  std::optional<CreationQueueRunSummary> summary;
  creations_->run({}, [&](CreationQueueRunSummary s) { summary = s; });
  int cut = 0;
  for (std::size_t next = 0; !summary && next < 20; ++next) {
    queue_->runUntil([&] { return summary || gateway_->callCount() > next; },
                     std::chrono::seconds(5));
    if (summary || gateway_->callCount() <= next) break;
    const auto field = rootField(next);
    if (field == "attachFrontImage") {
      const auto& request = gateway_->call(next).request;
      request.uploadProgress(request.uploads.at(0), 100, 1000);
      gateway_->fail(next, http::makeTransportError(http::kTransportConnectionLost, "cut"));
      ++cut;
    } else {
      gateway_->answerJson(next, attached("r-new", field.c_str()));
    }
  }
  ASSERT_TRUE(summary) << "the run ended";
  EXPECT_EQ(cut, 3);
  EXPECT_EQ(summary->unfinished, 1);
  EXPECT_EQ(creations_->entry(id)->state, QueuedCreationState::created);
}

// A link put in place of a queued photo is never followed: the entry fails
// before anything is uploaded, and the file it names stays as it was.
TEST_F(CreationQueueRunTest, APhotoReplacedByALinkIsNotUploaded) {
  const auto id = creations_->enqueue(parameter());
  const auto outside = home_.path() / "secret.jpg";
  std::ofstream(outside) << "not the queue's";
  const auto photo = home_.path() / "queue" / "photos" / (id + "-front.jpg");
  ASSERT_TRUE(std::filesystem::remove(photo));
  std::filesystem::create_symlink(outside, photo);

  std::optional<CreationQueueRunSummary> summary;
  creations_->run({}, [&](CreationQueueRunSummary s) { summary = s; });
  serve(summary, 0, {});
  for (std::size_t i = 0; i < gateway_->callCount(); ++i) {
    EXPECT_NE(rootField(i), "attachFrontImage");
  }
  const auto entry = creations_->entry(id);
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->state, QueuedCreationState::failed);
  ASSERT_TRUE(entry->lastError);
  EXPECT_EQ(entry->lastError->code(), static_cast<int>(CreationQueueErrorCode::invalidParameter));
  EXPECT_TRUE(std::filesystem::exists(outside));
}

TEST_F(CreationQueueRunTest, AnUnusableRunLockIsNotTakenForAnotherRun) {
  const auto id = creations_->enqueue(parameter());
  std::filesystem::create_directory(home_.path() / "queue" / "run.lock");
  std::optional<CreationQueueRunSummary> summary;
  creations_->run({}, [&](CreationQueueRunSummary s) { summary = s; });
  queue_->runUntil([&] { return summary.has_value(); }, std::chrono::seconds(5));
  ASSERT_TRUE(summary);
  EXPECT_FALSE(summary->runningElsewhere);
  ASSERT_TRUE(summary->stopReason);
  EXPECT_EQ(summary->stopReason->code(), static_cast<int>(CreationQueueErrorCode::storage));
  try {
    creations_->drop(id);
    ADD_FAILURE() << "dropped without the lock";
  } catch (const CorvenzaException& e) {
    EXPECT_EQ(e.error().code(), static_cast<int>(CreationQueueErrorCode::storage));
  }
}

}  // namespace
}  // namespace corvenza::test
