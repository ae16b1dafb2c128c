// Two users, and a user without a user id, sharing one home: each sees only
// their own requests, and an anonymous installation keeps one identity.

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "integration/cli_fixture.h"
#include "integration/fault_control.h"

namespace corvenza::test {
namespace {

using nlohmann::json;

class CliUsersTest : public CliSuite {
 protected:
  static void SetUpTestSuite() {
    startEmulator({"--estimation-delay", "300", "--keep-alive", "1000"});
  }

  // The tool in one shared home (token store and cache), as @p user, or
  // without a user id when @p user is empty.
  ToolRun as(const std::string& user, const std::string& args) {
    return run(args, user.empty() ? std::string() : "CORVENZA_USER_ID=" + shellQuoted(user));
  }

  static std::string idOf(const ToolRun& run) {
    const auto record = json::parse(run.out, nullptr, false);
    return record.is_object() ? record.value("id", "") : std::string();
  }
  static std::vector<std::string> listedIds(const ToolRun& run) {
    std::vector<std::string> ids;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
      const auto item = json::parse(line, nullptr, false);
      if (item.is_object()) ids.push_back(item.value("id", ""));
    }
    return ids;
  }
};

TEST_F(CliUsersTest, UsersOneAfterTheOtherInOneHomeSeeOnlyTheirOwnRequests) {
  const auto alice = as("alice", createArgs() + " --json");
  ASSERT_EQ(alice.exitCode, 0) << alice.err;
  const auto id = idOf(alice);
  ASSERT_FALSE(id.empty()) << alice.out;

  const auto bobReads = as("bob", "get " + shellQuoted(id) + " --json");
  EXPECT_EQ(bobReads.exitCode, 1) << bobReads.out;
  EXPECT_EQ(bobReads.out.find(id), std::string::npos) << bobReads.out;
  const auto bobLists = as("bob", "list --all --json");
  ASSERT_EQ(bobLists.exitCode, 0) << bobLists.err;
  EXPECT_TRUE(listedIds(bobLists).empty()) << bobLists.out;

  // Alice's token and records are still hers after bob's runs.
  const auto aliceReads = as("alice", "get " + shellQuoted(id) + " --json");
  ASSERT_EQ(aliceReads.exitCode, 0) << aliceReads.err;
  EXPECT_EQ(idOf(aliceReads), id);
}

TEST_F(CliUsersTest, UsersAtTheSameTimeInOneHomeSeeOnlyTheirOwnRequests) {
  auto alice =
      std::async(std::launch::async, [&] { return as("carol", createArgs() + " --json"); });
  auto bob = std::async(std::launch::async, [&] { return as("dave", createArgs() + " --json"); });
  const auto carolRun = alice.get();
  const auto daveRun = bob.get();
  ASSERT_EQ(carolRun.exitCode, 0) << carolRun.err;
  ASSERT_EQ(daveRun.exitCode, 0) << daveRun.err;

  auto carolList = std::async(std::launch::async, [&] { return as("carol", "list --all --json"); });
  auto daveList = std::async(std::launch::async, [&] { return as("dave", "list --all --json"); });
  EXPECT_EQ(listedIds(carolList.get()), std::vector<std::string>{idOf(carolRun)});
  EXPECT_EQ(listedIds(daveList.get()), std::vector<std::string>{idOf(daveRun)});
}

// A new run signs with the credentials the last run of the same user kept,
// without a round trip to the identity service; another user fetches their own.
TEST_F(CliUsersTest, ARunSignsWithTheCredentialsTheLastRunOfTheSameUserKept) {
  ASSERT_EQ(as("erin", "list --json").exitCode, 0);
  const FaultControl faults(emulator_->endpoint("base"));
  faults.inject({{"route", "identity"},
                 {"field", "GetCredentialsForIdentity"},
                 {"action", "fail"},
                 {"status", 400},
                 {"times", "always"}});
  const auto again = as("erin", "list --json");
  EXPECT_EQ(again.exitCode, 0) << again.err;
  EXPECT_EQ(faults.fired(), 0);
  EXPECT_EQ(as("frank", "list --json").exitCode, 1);
  EXPECT_GE(faults.fired(), 1);
  faults.clear();
}

TEST_F(CliUsersTest, WithoutAUserIdTheInstallationKeepsOneIdentity) {
  // One refresh shared by the identity and the subscription: the estimate
  // arrives as an event, long before the 10 s safety read.
  const auto created = as("", createArgs() + " --wait --timeout 8 --json");
  ASSERT_EQ(created.exitCode, 0) << created.err;
  EXPECT_EQ(json::parse(created.out, nullptr, false).value("status", ""), "completed");
  const auto id = idOf(created);

  // A later run, even after signing out (a fresh token), is the same user.
  const auto signOut = as("", "sign-out");
  ASSERT_EQ(signOut.exitCode, 0) << signOut.err;
  const auto read = as("", "get " + shellQuoted(id) + " --json");
  ASSERT_EQ(read.exitCode, 0) << read.err;
  EXPECT_EQ(idOf(read), id);
  EXPECT_EQ(listedIds(as("", "list --all --json")), std::vector<std::string>{id});

  // watch subscribes too: it sees a creation made by another run.
  const auto script =
      environment() + " { " + shellQuoted(CORVENZA_CLI_PATH) +
      " watch --create --count 1 --timeout 20 --json & watcher=$!; for i in 1 2 3 4 5 6 7 8; do "
      "sleep 1; kill -0 $watcher 2>/dev/null || break; " +
      shellQuoted(CORVENZA_CLI_PATH) + " " + createArgs() +
      " >/dev/null 2>&1; done; wait $watcher; }";
  const auto watched = runShell(script, home_.path() / "watch-stderr");
  EXPECT_EQ(watched.exitCode, 0) << watched.err;
  EXPECT_EQ(json::parse(watched.out, nullptr, false).value("kind", ""), "create") << watched.out;
}

}  // namespace
}  // namespace corvenza::test
