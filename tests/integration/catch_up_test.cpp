// Changes made while the real-time connection is down reach the listeners
// once it is back: the emulator drops every connection and holds the new
// ones, the change is made in the gap, and each listener hears it once.
// A second user listening at the same time hears nothing of it.

#include <corvenza/direct_token_provider.h>
#include <corvenza/estimation_client.h>
#include <corvenza/image.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "auth/token_provider_environment.h"
#include "integration/emulator_http_client.h"
#include "integration/fault_control.h"
#include "platform/device/key_store.h"
#include "testkit/emulator_process.h"
#include "testkit/example_photos.h"
#include "testkit/temp_dir.h"

namespace corvenza::test {
namespace {

using namespace std::chrono_literals;
using Kind = EstimationEventKind;

constexpr auto kLimit = 30s;

// Heard by one user's listeners, in order: the kind and the request.
struct Heard {
  Kind kind;
  std::string id;
  friend bool operator==(const Heard&, const Heard&) = default;
  friend bool operator<(const Heard& a, const Heard& b) {
    return std::tie(a.kind, a.id) < std::tie(b.kind, b.id);
  }
  friend void PrintTo(const Heard& h, std::ostream* out) {
    *out << "kind " << static_cast<int>(h.kind) << " of " << h.id;
  }
};

class StartCounter final : public CorvenzaEnterpriseDelegate {
 public:
  void estimationProgressDidChange(EstimationProgressType) override {}
  void estimationSubscriptionDidStart(Kind kind) override { ++starts[static_cast<int>(kind)]; }
  int fewest() const { return *std::min_element(starts.begin(), starts.end()); }
  std::array<int, 3> starts{};
};

struct Listener {
  std::shared_ptr<EstimationClient> client;
  std::shared_ptr<StartCounter> counter = std::make_shared<StartCounter>();
  std::vector<Heard> heard;
  std::vector<RealtimeConnectionState> states;
};

class CatchUpTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = std::make_unique<TempDir>();
    // No estimate during a test: the only changes are the test's own.
    emulator_ = std::make_unique<EmulatorProcess>(
        CORVENZA_EMULATOR_PATH,
        std::vector<std::string>{"--write-bundle", (root_->path() / "bundle").string(),
                                 "--estimation-delay", "600000"});
    if (!emulator_->ok()) return;
    setenv("AWS_ENDPOINT_URL_COGNITO_IDENTITY", emulator_->endpoint("identity").c_str(), 1);
    setenv("AWS_ENDPOINT_URL_S3", emulator_->endpoint("s3").c_str(), 1);
  }
  static void TearDownTestSuite() {
    emulator_.reset();
    root_.reset();
  }

  void SetUp() override {
    ASSERT_TRUE(emulator_->ok()) << emulator_->error();
    queue_ = MainQueue::callerDriven();
  }
  void TearDown() override { queue_->stop(); }

 public:  // the cases' steps below use them
  std::shared_ptr<EstimationClient> client(const std::string& user) {
    auto environment = std::make_shared<DefaultTokenProvider::Environment>();
    environment->keyStore = device::makeKeychainStore("corvenza-test", root_->path() / user);
    environment->now = [] { return std::chrono::system_clock::now(); };
    auto provider = std::make_shared<DirectTokenProvider>(
        emulator_->endpoint("auth"), emulator_->endpoint("api_key"), std::move(environment));
    provider->setUserId(user);
    EstimationClientOptions options;
    options.configurationDirectory = root_->path() / "bundle";
    options.tokenProvider = provider;
    options.mainQueue = queue_;
    return EstimationClient::create(std::move(options));
  }

  void listen(Listener& listener) {
    listener.client->setDelegate(listener.counter);
    listener.client->setConnectionStateListener(
        [&states = listener.states](const auto& state) { states.push_back(state); });
    for (const auto kind : {Kind::creation, Kind::update, Kind::deletion}) {
      listener.client->subscribe(kind, [&heard = listener.heard, kind](auto record, auto errors) {
        if (record && record->id && !errors) heard.push_back({kind, *record->id});
      });
    }
  }

  // Runs @p start's operation to its end; the record's id, empty on failure.
  std::string await(const std::function<void(RequestCallback)>& start) {
    auto id = std::make_shared<std::optional<std::string>>();
    start([id](std::shared_ptr<EstimationRequest> record, std::optional<Errors> errors) {
      *id = record && record->id && !errors ? *record->id : std::string();
    });
    EXPECT_TRUE(queue_->runUntil([&] { return id->has_value(); }, kLimit));
    return id->value_or("");
  }

  std::string create(EstimationClient& client) {
    EstimationParameter parameter;
    parameter.heightInCm = 170;
    parameter.weightInKg = 62.5;
    parameter.age = 35;
    parameter.frontImage = Image::fromFile(kExamplePhotos + "edge-1081x1000.jpg");
    parameter.sideImage = parameter.frontImage;
    const auto id =
        await([&](RequestCallback done) { client.createEstimationRequest(parameter, done); });
    EXPECT_FALSE(id.empty());
    return id;
  }
  std::string update(EstimationClient& client, const std::string& id, double height = 181) {
    EstimationParameter parameter;
    parameter.heightInCm = height;
    parameter.weightInKg = 80;
    parameter.age = 40;
    return await(
        [&](RequestCallback done) { client.updateEstimationRequest(id, parameter, done); });
  }
  std::string remove(EstimationClient& client, const std::string& id) {
    return await([&](RequestCallback done) { client.deleteEstimationRequest(id, done); });
  }

  // Every real-time connection dropped, new ones held for a while: the gap.
  void drop() {
    FaultControl(emulator_->endpoint("base"))
        .inject(
            {{"route", "realtime"}, {"action", "stall"}, {"delay_ms", 4000}, {"times", "always"}});
    const auto dropped =
        plainRequest("POST", emulator_->endpoint("base") + "/_control/drop-realtime-connections",
                     {"Content-Type: application/json"}, "");
    ASSERT_EQ(dropped.status, 204) << dropped.body;
  }

  static std::unique_ptr<TempDir> root_;
  static std::unique_ptr<EmulatorProcess> emulator_;
  std::shared_ptr<MainQueue> queue_;
};

std::unique_ptr<TempDir> CatchUpTest::root_;
std::unique_ptr<EmulatorProcess> CatchUpTest::emulator_;

TEST_F(CatchUpTest, ChangesMadeWhileDisconnectedAreDeliveredOnceAfterTheReconnect) {
  using Ids = std::vector<std::string>;
  struct Case {
    const char* name;
    int requests;  // made before listening
    // Before the drop (heard live), and in the gap; each returns what it heard.
    std::function<std::vector<Heard>(CatchUpTest&, EstimationClient&, const Ids&)> beforeDrop;
    std::function<std::vector<Heard>(CatchUpTest&, EstimationClient&, const Ids&)> inTheGap;
  };
  const auto none = [](CatchUpTest&, EstimationClient&, const Ids&) {
    return std::vector<Heard>{};
  };
  const Case cases[] = {
      {"an update", 1, none,
       [](CatchUpTest& t, EstimationClient& c, const Ids& ids) {
         return std::vector<Heard>{{Kind::update, t.update(c, ids[0])}};
       }},
      {"a deletion", 1, none,
       [](CatchUpTest& t, EstimationClient& c, const Ids& ids) {
         return std::vector<Heard>{{Kind::deletion, t.remove(c, ids[0])}};
       }},
      {"a creation", 0, none,
       [](CatchUpTest& t, EstimationClient& c, const Ids&) {
         return std::vector<Heard>{{Kind::creation, t.create(c)}};
       }},
      {"nothing", 1, none, none},
      {"an update heard live before the drop", 1,
       [](CatchUpTest& t, EstimationClient& c, const Ids& ids) {
         return std::vector<Heard>{{Kind::update, t.update(c, ids[0])}};
       },
       none},
      {"an update heard live, then one in the gap", 1,
       [](CatchUpTest& t, EstimationClient& c, const Ids& ids) {
         return std::vector<Heard>{{Kind::update, t.update(c, ids[0])}};
       },
       [](CatchUpTest& t, EstimationClient& c, const Ids& ids) {
         return std::vector<Heard>{{Kind::update, t.update(c, ids[0], 175)}};
       }},
      {"many changes", 4, none,
       [](CatchUpTest& t, EstimationClient& c, const Ids& ids) {
         std::vector<Heard> made;
         for (int i = 0; i < 3; ++i) made.push_back({Kind::update, t.update(c, ids[i])});
         made.push_back({Kind::deletion, t.remove(c, ids[3])});
         made.push_back({Kind::creation, t.create(c)});
         return made;
       }},
  };
  int round = 0;
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    ++round;
    Listener owner, bystander;
    owner.client = client("catch-up-owner-" + std::to_string(round));
    bystander.client = client("catch-up-bystander-" + std::to_string(round));
    Ids ids;
    for (int i = 0; i < test.requests; ++i) ids.push_back(create(*owner.client));
    create(*bystander.client);
    listen(owner);
    listen(bystander);
    ASSERT_TRUE(queue_->runUntil(
        [&] { return owner.counter->fewest() >= 1 && bystander.counter->fewest() >= 1; }, kLimit));
    queue_->runFor(500ms);  // the first read of what is there

    auto expected = test.beforeDrop(*this, *owner.client, ids);
    ASSERT_TRUE(queue_->runUntil([&] { return owner.heard.size() >= expected.size(); }, kLimit));
    queue_->runFor(300ms);  // what the events changed, read
    drop();
    const auto made = test.inTheGap(*this, *owner.client, ids);
    EXPECT_EQ(owner.counter->fewest(), 1) << "the change was made while disconnected";
    FaultControl(emulator_->endpoint("base")).clear();
    expected.insert(expected.end(), made.begin(), made.end());

    ASSERT_TRUE(queue_->runUntil(
        [&] { return owner.counter->fewest() >= 2 && bystander.counter->fewest() >= 2; }, kLimit));
    queue_->runUntil([&] { return owner.heard.size() >= expected.size(); }, kLimit);
    queue_->runFor(1s);  // nothing more arrives
    std::sort(expected.begin(), expected.end());
    auto heard = owner.heard;
    std::sort(heard.begin(), heard.end());
    EXPECT_EQ(heard, expected);
    EXPECT_TRUE(bystander.heard.empty());
    owner.client->unsubscribeAll();
    bystander.client->unsubscribeAll();

    // The application heard the connection go and come back, then close.
    using Phase = RealtimeConnectionState::Phase;
    queue_->runUntil(
        [&] { return !owner.states.empty() && owner.states.back().phase == Phase::disconnected; },
        kLimit);
    std::vector<Phase> phases;
    for (const auto& state : owner.states) {
      if (phases.empty() || phases.back() != state.phase) phases.push_back(state.phase);
    }
    EXPECT_EQ(phases, (std::vector<Phase>{Phase::connecting, Phase::connected, Phase::reconnecting,
                                          Phase::connected, Phase::disconnected}));
    const auto again = std::find_if(owner.states.begin(), owner.states.end(),
                                    [](const auto& s) { return s.phase == Phase::reconnecting; });
    ASSERT_NE(again, owner.states.end());
    EXPECT_EQ(again->attempt, 1);
    EXPECT_TRUE(again->error) << "the drop is said";
  }
}

}  // namespace
}  // namespace corvenza::test
