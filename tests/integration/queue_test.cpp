// The durable creation queue from the command line, against the emulator:
// every entry ends with exactly one request on the service, both photos
// attached and nothing left on disk, whatever fails on the way and wherever
// the process is killed.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "integration/background_process.h"
#include "integration/cli_fixture.h"
#include "integration/emulator_http_client.h"
#include "integration/fault_control.h"

namespace corvenza::test {
namespace {

using json = nlohmann::json;

using Background = BackgroundProcess;

class QueueTest : public CliSuite {
 protected:
  static void SetUpTestSuite() { startEmulator({"--estimation-delay", "60000"}); }
  void SetUp() override {
    CliSuite::SetUp();
    clearFaults();
  }
  void TearDown() override { clearFaults(); }

  static FaultControl faults() { return FaultControl(emulator_->endpoint("base")); }
  static void inject(const json& fault) { faults().inject(fault); }
  static void clearFaults() { faults().clear(); }
  static int fired() { return faults().fired(); }

  /// Runs the queue of @p user once with every @p step fault answering 503,
  /// so that its entry stops just before that step.
  void stopBefore(const json& step, const std::string& user) {
    json hold = step;
    hold.update({{"action", "fail"}, {"status", 503}, {"times", "always"}});
    inject(hold);
    const auto held = run("queue run --give-up-after 1", as(user));
    EXPECT_EQ(held.exitCode, 75) << held.err;
    clearFaults();
  }

  /// "queue add" with fixed measurements; small photos unless @p fullSize.
  static std::string addArgs(const std::string& height = "170", bool fullSize = false) {
    const std::string front = fullSize ? "front-4032x3024-exif6.jpg" : "edge-1081x1000.jpg";
    const std::string side = fullSize ? "side-3024x4032.jpg" : "edge-1081x1000.jpg";
    return "queue add --height " + height + " --weight 62.5 --age 35 --gender female --front " +
           shellQuoted(kExamplePhotos + front) + " --side " + shellQuoted(kExamplePhotos + side);
  }
  static std::string as(const std::string& user) { return "CORVENZA_USER_ID=" + user; }

  /// The service's requests of @p user, each read back.
  std::vector<json> serviceRequests(const std::string& user) {
    std::vector<json> out;
    const auto listed = run("list --limit 100 --json", as(user));
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    std::istringstream lines(listed.out);
    std::string line;
    while (std::getline(lines, line)) {
      if (line.empty()) continue;
      const auto item = json::parse(line, nullptr, false);
      const auto got = run("get " + shellQuoted(item.value("id", "")) + " --json", as(user));
      EXPECT_EQ(got.exitCode, 0) << got.err;
      out.push_back(json::parse(got.out, nullptr, false));
    }
    return out;
  }

  json queueList(const std::string& user) {
    const auto listed = run("queue list --json", as(user));
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    return json::parse(listed.out, nullptr, false);
  }

  /// Photos still stored by every queue of this test's home.
  std::size_t photosLeft() const {
    std::size_t count = 0;
    const auto root = home_.path() / "data" / "queue";
    if (!std::filesystem::exists(root)) return 0;
    for (const auto& file : std::filesystem::recursive_directory_iterator(root)) {
      if (file.path().parent_path().filename() == "photos" && file.is_regular_file()) ++count;
    }
    return count;
  }

  /// Each queued entry of @p user is done, with one request on the service
  /// holding both photos, and nothing is left on disk.
  void expectEveryEntryDoneOnce(const std::string& user, std::size_t entries) {
    const auto queued = queueList(user);
    ASSERT_EQ(queued.size(), entries);
    std::set<std::string> requestIds;
    for (const auto& entry : queued) {
      EXPECT_EQ(entry.value("state", ""), "done") << entry.dump();
      requestIds.insert(entry.value("requestId", ""));
    }
    const auto requests = serviceRequests(user);
    ASSERT_EQ(requests.size(), entries) << "one request per entry on the service";
    for (const auto& request : requests) {
      EXPECT_TRUE(requestIds.count(request.value("id", ""))) << request.dump();
      EXPECT_TRUE(request.contains("frontImage")) << request.dump();
      EXPECT_TRUE(request.contains("sideImage")) << request.dump();
    }
    EXPECT_EQ(photosLeft(), 0u);
  }

  int cases_ = 0;
  // The suite's emulator keeps every test's requests: users are named per test.
  std::string nextUser() {
    return std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
           std::to_string(++cases_);
  }
};

TEST_F(QueueTest, AddedEntriesArePrivateUntilARunFinishesEachOnce) {
  const auto user = nextUser();
  for (const char* height : {"170", "171", "172"}) {
    const auto added = run(addArgs(height, /*fullSize=*/true) + " --json", as(user));
    ASSERT_EQ(added.exitCode, 0) << added.err;
    const auto out = json::parse(added.out, nullptr, false);
    EXPECT_EQ(out.value("state", ""), "pending");
    EXPECT_EQ(out.value("queueId", "").rfind("q-", 0), 0u) << added.out;
  }
  // Stored before anything is sent, readable by this user only.
  EXPECT_TRUE(serviceRequests(user).empty());
  EXPECT_EQ(photosLeft(), 6u);
  for (const auto& file :
       std::filesystem::recursive_directory_iterator(home_.path() / "data" / "queue")) {
    struct stat st {};
    ::lstat(file.path().c_str(), &st);
    const auto mode = st.st_mode & 0777;
    EXPECT_TRUE(mode == 0700 || mode == 0600) << file.path() << " " << std::oct << mode;
  }
  // Another user has a queue of their own.
  EXPECT_TRUE(queueList(nextUser()).empty());

  const auto ran = run("queue run --jobs 2", as(user));
  EXPECT_EQ(ran.exitCode, 0) << ran.err;
  EXPECT_NE(ran.out.find("done 3, failed 0, unfinished 0"), std::string::npos) << ran.out;
  expectEveryEntryDoneOnce(user, 3);

  // Nothing is left to run; dropping a finished entry removes it.
  EXPECT_EQ(run("queue run", as(user)).exitCode, 0);
  const auto id = queueList(user).at(0).value("queueId", "");
  EXPECT_EQ(run("queue drop " + id, as(user)).exitCode, 0);
  EXPECT_EQ(queueList(user).size(), 2u);
  EXPECT_EQ(run("queue drop " + id, as(user)).exitCode, 1);
}

// Where each step's fault goes, and the fault that holds a first run just
// before that step so the second run meets the fault there.
struct Step {
  const char* name;
  json target;
  std::optional<json> holdBefore;
};

const Step kSteps[] = {
    {"create", {{"route", "graphql"}, {"field", "createBodysizeEstimation"}}, std::nullopt},
    {"front upload",
     {{"route", "storage"}, {"method", "PUT"}},
     json{{"route", "graphql"}, {"field", "attachFrontImage"}}},
    {"front attach",
     {{"route", "graphql"}, {"field", "attachFrontImage"}},
     json{{"route", "graphql"}, {"field", "attachFrontImage"}}},
    {"side upload",
     {{"route", "storage"}, {"method", "PUT"}},
     json{{"route", "graphql"}, {"field", "attachSideImage"}}},
    {"side attach",
     {{"route", "graphql"}, {"field", "attachSideImage"}},
     json{{"route", "graphql"}, {"field", "attachSideImage"}}},
    // A run from the start reads only once, at the end.
    {"read back", {{"route", "graphql"}, {"field", "getBodysizeEstimation"}}, std::nullopt},
};

TEST_F(QueueTest, AFailureAtAnyStepIsRetriedAndEndsWithOneRequest) {
  const json actions[] = {
      {{"action", "fail"}, {"status", 503}},
      {{"action", "drop"}},
      {{"action", "malformed"}},
      {{"action", "drop"}, {"when", "after"}},  // done by the service, answer lost
  };
  for (const auto& step : kSteps) {
    for (const auto& action : actions) {
      SCOPED_TRACE(std::string(step.name) + " " + action.dump());
      const auto user = nextUser();
      ASSERT_EQ(run(addArgs(), as(user)).exitCode, 0);
      // A first run stops before the step; the entry keeps its place.
      if (step.holdBefore) stopBefore(*step.holdBefore, user);
      json fault = step.target;
      fault.update(action);
      inject(fault);
      const auto ran = run("queue run", as(user));
      EXPECT_EQ(ran.exitCode, 0) << ran.err;
      EXPECT_GE(fired(), 1) << "the fault was met";
      clearFaults();
      expectEveryEntryDoneOnce(user, 1);
    }
  }
}

TEST_F(QueueTest, ARefusalEndsTheEntryAsFailedWithItsErrorAndItsPhotosGone) {
  struct Case {
    const char* name;
    std::optional<json> refused;  // none: the request is deleted before its photos go up
    bool requestLeft;
  };
  for (const auto& c :
       {Case{"create", json{{"route", "graphql"}, {"field", "createBodysizeEstimation"}}, false},
        Case{"photo", json{{"route", "storage"}, {"method", "PUT"}}, true},
        Case{"request deleted", std::nullopt, false}}) {
    SCOPED_TRACE(c.name);
    const auto user = nextUser();
    ASSERT_EQ(run(addArgs(), as(user)).exitCode, 0);
    if (c.refused) {
      json fault = *c.refused;
      fault.update({{"action", "fail"}, {"status", 400}});
      inject(fault);
    } else {
      stopBefore({{"route", "graphql"}, {"field", "attachFrontImage"}}, user);
      const auto id = queueList(user).at(0).value("requestId", "");
      ASSERT_EQ(run("delete " + shellQuoted(id), as(user)).exitCode, 0);
    }
    const auto ran = run("queue run --json", as(user));
    EXPECT_EQ(ran.exitCode, 1) << ran.err;
    const auto out = json::parse(ran.out, nullptr, false);
    EXPECT_EQ(out.value("failed", 0), 1) << ran.out;
    const auto entry = queueList(user).at(0);
    EXPECT_EQ(entry.value("state", ""), "failed");
    EXPECT_TRUE(entry.contains("lastError")) << entry.dump();
    EXPECT_EQ(photosLeft(), 0u);
    // A refused photo leaves its request behind, and the run and the list say so.
    EXPECT_EQ(entry.value("requestLeftOnService", false), c.requestLeft) << entry.dump();
    EXPECT_EQ(ran.err.find("stays on the service") != std::string::npos, c.requestLeft) << ran.err;
    const auto listed = run("queue list", as(user)).out;
    EXPECT_EQ(listed.find("stays on the service") != std::string::npos, c.requestLeft) << listed;
    clearFaults();
  }
}

TEST_F(QueueTest, KilledAtAnyStepALaterRunFinishesWithoutADuplicate) {
  for (const auto& step : kSteps) {
    SCOPED_TRACE(step.name);
    const auto user = nextUser();
    ASSERT_EQ(run(addArgs(), as(user)).exitCode, 0);
    if (step.holdBefore) stopBefore(*step.holdBefore, user);
    // The step is done by the service and its answer withheld: the process
    // is killed while it waits, the worst moment for a duplicate.
    json stall = step.target;
    stall.update({{"action", "stall"}, {"when", "after"}});
    inject(stall);
    Background runner(
        environment(as(user)) + " exec " + shellQuoted(CORVENZA_CLI_PATH) + " queue run",
        home_.path() / ("killed-" + std::to_string(cases_)));
    ASSERT_TRUE(runner.started());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (fired() == 0 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_GE(fired(), 1) << "the run reached the step";
    runner.kill(SIGKILL);
    runner.wait(std::chrono::seconds(10));
    clearFaults();

    const auto resumed = run("queue run", as(user));
    EXPECT_EQ(resumed.exitCode, 0) << resumed.err;
    expectEveryEntryDoneOnce(user, 1);
  }
}

// Each queue subcommand parses its own flags: with a default user in the
// environment, the user given on the line is the one whose queue and
// requests these are.
TEST_F(QueueTest, FlagsOnTheLineWinOverTheEnvironment) {
  const auto kiosk = nextUser();
  const auto alice = nextUser();
  ASSERT_EQ(run(addArgs() + " --user-id " + alice, as(kiosk)).exitCode, 0);
  const auto ran = run("queue run --user-id " + alice, as(kiosk));
  EXPECT_EQ(ran.exitCode, 0) << ran.err;
  EXPECT_EQ(serviceRequests(alice).size(), 1u);
  EXPECT_TRUE(serviceRequests(kiosk).empty());
  EXPECT_TRUE(queueList(kiosk).empty());
  const auto carol = run("queue list --json --user-id " + nextUser(), as(kiosk));
  EXPECT_EQ(carol.out, "[]\n") << carol.err;
}

// The queue's folder follows the service however its URL is written: a
// trailing slash or capitals in the host name the same one.
TEST_F(QueueTest, OneServiceWrittenTwoWaysHasOneQueue) {
  const auto auth = emulator_->endpoint("auth");
  const auto local = "http://localhost:" + auth.substr(auth.rfind(':') + 1);
  for (const auto& [added, listed] :
       {std::pair{auth, auth + "/"}, std::pair{auth + "//", auth},
        std::pair{local, "http://LocalHost:" + local.substr(local.rfind(':') + 1) + "/"}}) {
    SCOPED_TRACE(added + " then " + listed);
    const auto user = nextUser();
    ASSERT_EQ(run(addArgs() + " --api-url " + shellQuoted(added), as(user)).exitCode, 0);
    const auto list = run("queue list --json --api-url " + shellQuoted(listed), as(user));
    EXPECT_EQ(json::parse(list.out, nullptr, false).size(), 1u) << list.out << list.err;
  }
}

// Trouble on this side (a wrong key, photo storage that is not set up) says
// nothing about the creations: the run stops before sending anything, keeps
// every entry with its photos and says what to mend; mended, it completes.
TEST_F(QueueTest, LocalTroubleKeepsEveryEntryUntilMended) {
  struct Case {
    const char* setting;
    const char* words;
  };
  for (const auto& c : {Case{"CORVENZA_API_KEY=not-the-key", "refused the API key"},
                        Case{"AWS_ENDPOINT_URL_S3=ftp://127.0.0.1:9/",
                             "photo storage is not set up: Object storage's endpoint must be an "
                             "http or https URL"}}) {
    SCOPED_TRACE(c.setting);
    const auto user = nextUser();
    ASSERT_EQ(run(addArgs(), as(user)).exitCode, 0);
    ASSERT_EQ(run(addArgs("171"), as(user)).exitCode, 0);
    const auto stopped = run("queue run", as(user) + " " + c.setting);
    EXPECT_EQ(stopped.exitCode, 1) << stopped.err;
    EXPECT_NE(stopped.err.find(c.words), std::string::npos) << stopped.err;
    EXPECT_NE(stopped.err.find("kept with their photos"), std::string::npos) << stopped.err;
    EXPECT_EQ(photosLeft(), 4u);
    EXPECT_TRUE(serviceRequests(user).empty());
    for (const auto& entry : queueList(user)) EXPECT_EQ(entry.value("state", ""), "pending");

    EXPECT_EQ(run("queue run", as(user)).exitCode, 0);
    expectEveryEntryDoneOnce(user, 2);
  }
}

// A full disk: what is queued can still be listed, a run sends nothing it
// could not record and says so, and once there is room again it completes.
TEST_F(QueueTest, AFullDiskStopsTheRunBeforeAnythingIsSent) {
  if (runShell("unshare -rm true", home_.path() / "unshare.err").exitCode != 0) {
    GTEST_SKIP() << "no mount namespace for a small file system here";
  }
  const auto user = nextUser();
  const auto disk = home_.path() / "small-disk";
  const auto logs = home_.path() / "full-disk";
  std::filesystem::create_directories(disk);
  std::filesystem::create_directories(logs);
  const auto cli = [&](const std::string& name, const std::string& args) {
    const auto at = shellQuoted((logs / name).string());
    return shellQuoted(CORVENZA_CLI_PATH) + " " + args + " >" + at + ".out 2>" + at +
           ".err; echo $? >" + at + ".status; ";
  };
  const auto script =
      "mount -t tmpfs -o size=4m tmpfs " + shellQuoted(disk.string()) + " && " +
      cli("add", addArgs()) + "dd if=/dev/zero of=" + shellQuoted((disk / "filler").string()) +
      " bs=64k 2>/dev/null; " + cli("list", "queue list --json") + cli("run", "queue run") + "rm " +
      shellQuoted((disk / "filler").string()) + "; " + cli("again", "queue run");
  runShell(environment(as(user) + " CORVENZA_QUEUE_DIR=" + shellQuoted(disk.string())) +
               " unshare -rm sh -c " + shellQuoted(script),
           logs / "shell.err");
  const auto read = [&](const std::string& file) {
    std::ifstream in(logs / file);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  ASSERT_EQ(read("add.status"), "0\n") << read("add.err") << read("shell.err");
  EXPECT_EQ(read("list.status"), "0\n") << read("list.err");
  EXPECT_EQ(json::parse(read("list.out"), nullptr, false).size(), 1u) << read("list.out");
  EXPECT_EQ(read("run.status"), "1\n") << read("run.err");
  EXPECT_NE(read("run.err").find("is full"), std::string::npos) << read("run.err");
  EXPECT_NE(read("run.out").find("done 0, failed 0, unfinished 1"), std::string::npos)
      << read("run.out");
  EXPECT_EQ(read("again.status"), "0\n") << read("again.err");
  const auto requests = serviceRequests(user);
  ASSERT_EQ(requests.size(), 1u) << "one request, made by the run that had room";
  EXPECT_TRUE(requests.front().contains("sideImage")) << requests.front().dump();
}

// What a run and a list print of an entry's trouble is in the tool's words,
// the same after the process that met it is gone.
TEST_F(QueueTest, TroubleIsToldInWordsByTheRunAndLaterByTheList) {
  const auto user = nextUser();
  ASSERT_EQ(run(addArgs(), as(user)).exitCode, 0);
  inject({{"route", "graphql"}, {"field", "createBodysizeEstimation"}, {"action", "stall"}});
  const auto ran = run("queue run --step-timeout 1 --give-up-after 1", as(user));
  EXPECT_EQ(ran.exitCode, 75) << ran.err;
  clearFaults();
  const auto listed = run("queue list", as(user));
  for (const auto* text : {&ran.err, &listed.out}) {
    EXPECT_NE(text->find("no answer from 127.0.0.1:"), std::string::npos) << *text;
    EXPECT_NE(text->find("within 1 s while creating the request"), std::string::npos) << *text;
    EXPECT_EQ(text->find("couldn't be completed"), std::string::npos) << *text;
  }
}

// The service goes away in the middle of a run and comes back on the same
// data folder: the run waits it out and completes.
TEST(QueueRestartTest, TheEmulatorRestartedMidRunAndTheRunCompletes) {
  TempDir root;
  const auto emulatorCommand = [&](const std::string& port, const std::string& bundle) {
    return "exec " + shellQuoted(CORVENZA_EMULATOR_PATH) + " --port " + port + " --data-dir " +
           shellQuoted((root.path() / "data").string()) + " --write-bundle " +
           shellQuoted((root.path() / bundle).string());
  };
  const auto readyLine = [&](const std::filesystem::path& log) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::string line;
    while (line.empty() && std::chrono::steady_clock::now() < deadline) {
      std::ifstream in(log);
      std::getline(in, line);
      if (line.find("\"base\"") == std::string::npos) line.clear();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return json::parse(line, nullptr, false);
  };
  auto first =
      std::make_unique<Background>(emulatorCommand("0", "bundle"), root.path() / "emulator-1.log");
  const auto ready = readyLine(root.path() / "emulator-1.log");
  ASSERT_TRUE(ready.contains("base")) << ready.dump();
  const std::string base = ready["base"];
  const auto port = base.substr(base.rfind(':') + 1);

  const auto env = ". " + shellQuoted((root.path() / "bundle" / "emulator.env").string()) +
                   " && export CORVENZA_USER_ID=restart-user CORVENZA_KEYCHAIN_DIR=" +
                   shellQuoted((root.path() / "home").string()) +
                   " CORVENZA_CACHE_DIR=" + shellQuoted((root.path() / "cache").string()) + " && ";
  const auto cli = [&](const std::string& args) {
    return runShell(env + "exec " + shellQuoted(CORVENZA_CLI_PATH) + " " + args,
                    root.path() / "cli.err");
  };
  const std::string photo = shellQuoted(kExamplePhotos + "edge-1081x1000.jpg");
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(
        cli("queue add --height 170 --weight 60 --age 30 --front " + photo + " --side " + photo)
            .exitCode,
        0);
  }
  // The first front attach hangs, so the run is surely in the middle when
  // the service goes away.
  const FaultControl faults(base);
  faults.inject(json{{"route", "graphql"}, {"field", "attachFrontImage"}, {"action", "stall"}});
  Background runner(
      env + "exec " + shellQuoted(CORVENZA_CLI_PATH) + " queue run --jobs 1 --give-up-after 1000",
      root.path() / "run.log");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline && faults.fired() == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  first.reset();  // killed; its connections drop
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  Background second(emulatorCommand(port, "bundle-2"), root.path() / "emulator-2.log");
  ASSERT_TRUE(readyLine(root.path() / "emulator-2.log").contains("base"));

  EXPECT_EQ(runner.wait(std::chrono::seconds(120)), 0);
  const auto listed = cli("queue list --json");
  const auto entries = json::parse(listed.out, nullptr, false);
  ASSERT_EQ(entries.size(), 4u) << listed.out;
  for (const auto& entry : entries) EXPECT_EQ(entry.value("state", ""), "done") << entry.dump();
  const auto requests = cli("list --limit 100 --json");
  EXPECT_EQ(std::count(requests.out.begin(), requests.out.end(), '\n'), 4) << requests.out;
}

}  // namespace
}  // namespace corvenza::test
