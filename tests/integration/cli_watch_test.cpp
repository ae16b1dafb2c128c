// `corvenza watch` across a restart of the service, which forgets the
// credentials it issued: the watch gets fresh ones and goes on.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <utility>

#include "integration/background_process.h"
#include "integration/cli_fixture.h"
#include "integration/emulator_http_client.h"
#include "integration/fault_control.h"
#include "integration/shell_run.h"
#include "testkit/example_photos.h"
#include "testkit/temp_dir.h"

namespace corvenza::test {
namespace {

using json = nlohmann::json;
using namespace std::chrono_literals;

std::string readAll(const std::filesystem::path& file) {
  std::ostringstream text;
  text << std::ifstream(file).rdbuf();
  return text.str();
}

bool eventually(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  for (const auto deadline = std::chrono::steady_clock::now() + limit; !done();) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(100ms);
  }
  return true;
}

json readyLine(const std::filesystem::path& log) {
  std::istringstream lines(readAll(log));
  std::string line;
  std::getline(lines, line);
  return json::parse(line, nullptr, false);
}

TEST(WatchRestartTest, AWatchGoesOnHearingEventsAfterTheServiceRestarts) {
  TempDir root;
  // The emulator on @p port and one data folder, so a restart keeps users and tokens.
  const auto emulator = [&](const std::string& port, const std::string& name) {
    const auto log = root.path() / (name + ".log");
    auto process = std::make_unique<BackgroundProcess>(
        "exec " + shellQuoted(CORVENZA_EMULATOR_PATH) + " --port " + port + " --data-dir " +
            shellQuoted((root.path() / "data").string()) + " --write-bundle " +
            shellQuoted((root.path() / name).string()),
        log);
    eventually([&] { return readyLine(log).contains("base"); }, 30s);
    return std::pair{std::move(process), readyLine(log).value("base", "")};
  };
  auto [first, base] = emulator("0", "bundle");
  ASSERT_FALSE(base.empty());

  const auto cli = "cd " + shellQuoted(root.path().string()) + " && . ./bundle/emulator.env && " +
                   "export CORVENZA_USER_ID=watcher CORVENZA_KEYCHAIN_DIR=\"$PWD/home\" " +
                   "CORVENZA_CACHE_DIR=\"$PWD/cache\" && exec " + shellQuoted(CORVENZA_CLI_PATH) +
                   " ";
  BackgroundProcess watch(cli + "watch --create", root.path() / "watch.log");
  const auto photo = shellQuoted(kExamplePhotos + "edge-1081x1000.jpg");
  // Creates a request and waits a while for the watch to print it.
  const auto heard = [&] {
    const auto created = runShell(cli + "create --height 170 --weight 60 --age 30 --json --front " +
                                      photo + " --side " + photo,
                                  root.path() / "create.err");
    const auto id = json::parse(created.out, nullptr, false).value("id", "");
    return !id.empty() &&
           eventually(
               [&] { return readAll(root.path() / "watch.log").find(id) != std::string::npos; },
               5s);
  };
  ASSERT_TRUE(eventually(heard, 60s)) << readAll(root.path() / "watch.log");

  first.reset();
  std::this_thread::sleep_for(1s);
  auto [second, again] = emulator(base.substr(base.rfind(':') + 1), "bundle-2");
  ASSERT_EQ(again, base);
  EXPECT_TRUE(eventually([&] { return !watch.running() || heard(); }, 60s));
  EXPECT_TRUE(watch.running()) << readAll(root.path() / "watch.log");
}

class WatchReconnectTest : public CliSuite {
 protected:
  static void SetUpTestSuite() { startEmulator({"--estimation-delay", "600000"}); }
};

// An update made while the connection is down still ends a watch waiting for
// one, and the watch says that the connection went and came back.
TEST_F(WatchReconnectTest, AnUpdateMadeWhileDisconnectedIsPrintedAfterTheReconnect) {
  const auto created = run(createArgs() + " --json");
  ASSERT_EQ(created.exitCode, 0) << created.err;
  const auto id = json::parse(created.out, nullptr, false).value("id", "");
  const auto log = home_.path() / "watch.log";
  BackgroundProcess watch(environment() + " exec " + shellQuoted(CORVENZA_CLI_PATH) +
                              " watch --update --count 1 --timeout 40",
                          log);
  ASSERT_TRUE(eventually(
      [&] { return readAll(log).find("real-time connection connected") != std::string::npos; },
      30s))
      << readAll(log);
  std::this_thread::sleep_for(1s);  // the subscription acknowledged, what is there read

  const FaultControl faults(emulator_->endpoint("base"));
  faults.inject(
      {{"route", "realtime"}, {"action", "stall"}, {"delay_ms", 4000}, {"times", "always"}});
  const auto dropped =
      plainRequest("POST", emulator_->endpoint("base") + "/_control/drop-realtime-connections",
                   {"Content-Type: application/json"}, "");
  ASSERT_EQ(dropped.status, 204) << dropped.body;
  const auto updated = run("update " + shellQuoted(id) + " --height 181 --weight 80 --age 40");
  ASSERT_EQ(updated.exitCode, 0) << updated.err;
  faults.clear();

  EXPECT_EQ(watch.wait(40s), 0) << readAll(log);
  const auto printed = readAll(log);
  EXPECT_NE(printed.find("update " + id + " "), std::string::npos) << printed;
  EXPECT_NE(printed.find("real-time connection reconnecting (attempt 1 in "), std::string::npos)
      << printed;
}

}  // namespace
}  // namespace corvenza::test
