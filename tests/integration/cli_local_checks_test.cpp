// What `create` settles on this machine: what can be checked before the
// request is made is checked first, and photos a killed run left on their way
// to storage do not stay.

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "integration/background_process.h"
#include "integration/cli_fixture.h"
#include "integration/fault_control.h"

namespace corvenza::test {
namespace {

class CliLocalChecksTest : public CliSuite {
 protected:
  static void SetUpTestSuite() { startEmulator({"--estimation-delay", "60000"}); }

  /// The tool with this test's own temporary folder, as user @p user.
  ToolRun corvenza(const std::string& args, const std::string& user,
                   const std::string& settings = {}) {
    return run(args, "CORVENZA_USER_ID=" + user + " TMPDIR=" + shellQuoted(tmp().string()) + " " +
                         settings);
  }
  std::filesystem::path tmp() const { return home_.path() / "tmp"; }
  std::filesystem::path photoFolder() const {
    return tmp() / ("corvenza-" + std::to_string(::geteuid()));
  }
  std::size_t requestsOf(const std::string& user) {
    const auto listed = corvenza("list --limit 100 --json", user);
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    return static_cast<std::size_t>(std::count(listed.out.begin(), listed.out.end(), '\n'));
  }
  void SetUp() override {
    CliSuite::SetUp();
    std::filesystem::create_directories(tmp());
  }
};

// Each failed try used to leave one more half-made request behind.
TEST_F(CliLocalChecksTest, WhatCanBeCheckedHereIsCheckedBeforeTheRequestIsMade) {
  struct Case {
    const char* name;
    const char* setting;
    const char* words;
    bool needsRoot;
  };
  for (const auto& c : {Case{"storage", "AWS_ENDPOINT_URL_S3=ftp://127.0.0.1:9/",
                             "must be an http or https URL", false},
                        Case{"foreign-folder", "", "cannot be used", true}}) {
    SCOPED_TRACE(c.name);
    if (c.needsRoot && ::geteuid() != 0) continue;  // only root can hand a folder to another user
    std::filesystem::remove_all(photoFolder());
    if (c.needsRoot) {
      std::filesystem::create_directory(photoFolder());
      ASSERT_EQ(::chown(photoFolder().c_str(), 65534, 65534), 0);
    }
    const std::string user = std::string("local-") + c.name;
    const auto created = corvenza(createArgs(), user, c.setting);
    EXPECT_EQ(created.exitCode, 1) << created.err;
    EXPECT_NE(created.err.find(c.words), std::string::npos) << created.err;
    EXPECT_EQ(requestsOf(user), 0u) << "nothing was made on the service";
  }
  std::filesystem::remove_all(photoFolder());
}

TEST_F(CliLocalChecksTest, APhotoAKilledCreateLeftIsRemovedByTheNextOne) {
  const FaultControl faults(emulator_->endpoint("base"));
  faults.inject({{"route", "storage"}, {"method", "PUT"}, {"action", "stall"}});
  const auto command =
      environment("CORVENZA_USER_ID=killed TMPDIR=" + shellQuoted(tmp().string())) + " exec " +
      shellQuoted(CORVENZA_CLI_PATH) + " " + createArgs();
  BackgroundProcess killed(command, home_.path() / "killed.log");
  ASSERT_TRUE(killed.started());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (faults.fired() == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  killed.kill(SIGKILL);
  killed.wait(std::chrono::seconds(10));
  faults.clear();
  const auto photos = [&] {
    std::size_t count = 0;
    for (const auto& file : std::filesystem::directory_iterator(photoFolder())) {
      count += file.path().extension() == ".jpg";
    }
    return count;
  };
  // The front photo was on its way, and the side one may be prepared already.
  ASSERT_GE(photos(), 1u);

  const auto next = corvenza(createArgs(), "next");
  EXPECT_EQ(next.exitCode, 0) << next.err;
  EXPECT_EQ(photos(), 0u);
}

}  // namespace
}  // namespace corvenza::test
