// The command-line tool says what went wrong, in words, with the code kept
// for scripts; bad input is a usage error before anything is sent.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
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

// A loopback port that accepts connections and never answers.
class SilentServer {
 public:
  SilentServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::listen(fd_, 16) == 0 &&
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port_ = ntohs(address.sin_port);
    }
  }
  ~SilentServer() { ::close(fd_); }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  bool ok() const { return port_ != 0; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

class CliErrorsTest : public CliSuite {
 protected:
  static void SetUpTestSuite() { startEmulator({"--estimation-delay", "300"}); }
  void TearDown() override { faults().clear(); }

  // The tool against the emulator as "errors-user"; @p overrides come last.
  ToolRun corvenza(const std::string& args, const std::string& overrides = {}) {
    return run(args, "CORVENZA_USER_ID=errors-user " + overrides);
  }

  static FaultControl faults() { return FaultControl(emulator_->endpoint("base")); }
  // How the tool names the service: the GraphQL endpoint's host and port.
  static std::string host() {
    const auto url = emulator_->endpoint("graphql");
    const auto start = url.find("://") + 3;
    return url.substr(start, url.find('/', start) - start);
  }
  // Lines the emulator logged so far: one per request it received.
  static std::size_t served() {
    const auto log = emulator_->log();
    return static_cast<std::size_t>(std::count(log.begin(), log.end(), '\n'));
  }
  // "create" of a small request; with --json its id.
  static std::string createArgs() {
    const auto photo = shellQuoted(kExamplePhotos + "edge-1081x1000.jpg");
    return "create --height 170 --weight 60 --age 30 --json --front " + photo + " --side " + photo;
  }
  std::string createdId() {
    return json::parse(corvenza(createArgs()).out, nullptr, false).value("id", "");
  }
};

TEST_F(CliErrorsTest, BadValuesAreUsageErrorsAndNothingIsSent) {
  const std::string photos = " --weight 60 --age 30 --front " +
                             shellQuoted(kExamplePhotos + "side-3024x4032.jpg") + " --side " +
                             shellQuoted(kExamplePhotos + "side-3024x4032.jpg");
  const std::string wholeNumber = "must be a whole number from 0 to 2147483647";
  const std::string seconds = "must be a whole number of seconds from ";
  // args, the words of the refusal
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"create --height NaN" + photos, "not a finite number"},
      {"create --height inf" + photos, "not a finite number"},
      {"create --height 1e999" + photos, "not a number"},
      {"update some-id --height 170 --weight nan --age 3", "not a finite number"},
      {"create --height 170 --age -5" + photos, "--age: " + wholeNumber},
      {"create --height 170 --timeout 0" + photos, "--timeout: " + seconds + "1 to"},
      {"watch --count -1", "--count: " + wholeNumber},
      {"watch --count 1.5", "--count: " + wholeNumber},
      {"watch --timeout -3", "--timeout: " + seconds + "0 to 2147483647"},
      {"watch --timeout 1e400", "--timeout: " + seconds + "0 to"},
      {"watch --subscribe-timeout inf", "--subscribe-timeout: " + seconds + "1 to"},
      // Not UTF-8: raw bytes, an overlong NUL, a lone surrogate.
      {"get " + shellQuoted("\xff\xfe"), "UTF-8"},
      {"delete " + shellQuoted("a\xc0\x80"), "UTF-8"},
      {"list --next-token " + shellQuoted("\xed\xa0\x80"), "UTF-8"}};
  for (const auto& [args, says] : cases) {
    SCOPED_TRACE(args);
    const auto run = corvenza(args);
    EXPECT_EQ(run.exitCode, 2) << run.err;
    EXPECT_TRUE(run.out.empty());
    EXPECT_NE(run.err.find(says), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("179769"), std::string::npos) << "a bound nobody can read";
  }
}

// 0, the default of --count and --timeout, is no limit, and the help says so.
TEST_F(CliErrorsTest, WatchTakesZeroAsNoLimit) {
  const auto help = corvenza("watch --help");
  for (const std::string option : {"--count", "--timeout"}) {
    const auto at = help.out.find("  " + option + " ");
    ASSERT_NE(at, std::string::npos) << help.out;
    const auto entry = help.out.substr(at, help.out.find("\n  -", at) - at);
    EXPECT_NE(entry.find("0, the default: no limit"), std::string::npos) << entry;
  }
  const auto watched = corvenza("watch --count 0 --timeout 2");
  EXPECT_EQ(watched.exitCode, 0) << watched.err;
}

TEST_F(CliErrorsTest, WhatCannotWorkIsRefusedBeforeItIsSent) {
  struct Case {
    std::string args;
    std::string settings;
    int exitCode;
    std::string says;
    bool usage;  // refused before anything at all reaches the service
  };
  const std::vector<Case> cases = {
      {"list --limit 101", "", 2, "--limit", true},
      {"list", "CORVENZA_API_KEY=", 2, "--api-key", true},
      {"list", "CORVENZA_API_URL=file:///etc/passwd", 2, "--api-url", true},
      // The token is fetched; the identity service's address is refused unread.
      {"get some-id", "AWS_ENDPOINT_URL_COGNITO_IDENTITY=file:///etc/passwd", 1,
       "Refused to send to file:///etc/passwd: only http and https URLs are allowed", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args + " with " + c.settings);
    const auto before = served();
    const auto run = corvenza(c.args, c.settings);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("root:"), std::string::npos) << "a local file was read";
    if (c.usage) {
      EXPECT_EQ(served(), before) << "something was sent";
    }
  }
}

TEST_F(CliErrorsTest, AStalledServiceIsNamedWithWhatTheCommandWasDoing) {
  const auto kept = createdId();
  const auto doomed = createdId();
  ASSERT_FALSE(kept.empty() || doomed.empty());
  struct Case {
    const char* field;
    const char* when;  // changes are made, then their answers held
    std::string args;
    std::string doing;
  };
  const std::string maybe = "; the change may still have been applied";
  const std::vector<Case> cases = {
      {"getBodysizeEstimation", "before", "get " + kept, "reading the request"},
      {"listBodysizeEstimations", "before", "list", "listing requests"},
      {"updateBodysizeEstimation", "after", "update " + kept + " --height 181 --weight 60 --age 3",
       "updating the request" + maybe},
      {"deleteBodysizeEstimation", "after", "delete " + doomed, "deleting the request" + maybe},
  };
  // Each waits out the library's 45 s, so they wait together.
  std::vector<std::future<ToolRun>> runs;
  for (const auto& c : cases) {
    faults().inject({{"route", "graphql"},
                     {"field", c.field},
                     {"action", "stall"},
                     {"when", c.when},
                     {"times", "always"}});
    runs.push_back(std::async(std::launch::async, [this, &c] { return corvenza(c.args); }));
  }
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const auto run = runs[i].get();
    EXPECT_EQ(run.exitCode, 1) << cases[i].args;
    EXPECT_NE(run.err.find("no answer from " + host() + " within 45 s while " + cases[i].doing +
                           " [CorvenzaError 1995]"),
              std::string::npos)
        << run.err;
  }
  faults().clear();
  EXPECT_NE(corvenza("get " + kept + " --json").out.find("\"height\":181.0"), std::string::npos);
  EXPECT_EQ(corvenza("get " + doomed).exitCode, 1) << "the delete was applied";
}

TEST_F(CliErrorsTest, AFailedCreationSaysWhatItLeftBehind) {
  // Where the creation failed; whether both photos are attached then.
  for (const auto& [field, complete] :
       {std::pair{"attachSideImage", false}, std::pair{"getBodysizeEstimation", true}}) {
    SCOPED_TRACE(field);
    faults().inject({{"route", "graphql"},
                     {"field", field},
                     {"action", "fail"},
                     {"status", 400},
                     {"times", 9}});
    const auto created = corvenza(createArgs());
    faults().clear();
    EXPECT_EQ(created.exitCode, 1);
    const auto id = created.err.substr(created.err.find("corvenza: request ") + 18, 36);
    const auto says = complete ? " was made with both photos; only reading it back failed: see "
                                 "corvenza get " +
                                     id
                               : " was created and left unfinished; retry its photos or delete it";
    EXPECT_NE(created.err.find(id + says), std::string::npos) << created.err;
    // The message tells the truth about the request as the service holds it.
    EXPECT_EQ(corvenza("get " + id + " --json").out.find("sideImage") != std::string::npos,
              complete);
  }
}

TEST_F(CliErrorsTest, FailuresSayWhatHappenedAndKeepTheCode) {
  const auto unknown = corvenza("get 00000000-0000-4000-8000-000000000000");
  EXPECT_EQ(unknown.exitCode, 1);
  EXPECT_NE(unknown.err.find("no request 00000000-0000-4000-8000-000000000000 for this user "
                             "[CorvenzaError 2000]"),
            std::string::npos)
      << unknown.err;
  const auto unknownDelete = corvenza("delete 00000000-0000-4000-8000-000000000000");
  EXPECT_EQ(unknownDelete.exitCode, 1);
  EXPECT_NE(unknownDelete.err.find("no request 00000000-0000-4000-8000-000000000000 for this user"),
            std::string::npos)
      << unknownDelete.err;

  const auto unreachable = corvenza("list", "CORVENZA_API_URL=http://127.0.0.1:9");
  EXPECT_EQ(unreachable.exitCode, 1);
  EXPECT_NE(unreachable.err.find("cannot reach the authentication service"), std::string::npos)
      << unreachable.err;
}

// What the authentication service answered reaches the user: its own
// message with a refusal, and that its answer could not be read.
TEST_F(CliErrorsTest, TheAuthenticationServicesAnswerIsToldInWords) {
  struct Case {
    json fault;  // null: none
    std::string settings;
    std::string says;
  };
  const auto authFault = [](const json& action) {
    json fault = {{"route", "auth"}, {"times", "always"}};
    fault.update(action);
    return fault;
  };
  const std::vector<Case> cases = {
      {nullptr, "CORVENZA_API_KEY=not-the-key",
       "the authentication service refused the API key (HTTP 401)"},
      {authFault({{"action", "fail"},
                  {"status", 403},
                  {"body", R"({"error":"Forbidden","message":"user banned"})"}}),
       "", "the authentication service refused the API key (HTTP 403): user banned"},
      {authFault({{"action", "malformed"}, {"body", "<html>"}}), "",
       "the authentication service's answer (HTTP 200) could not be read"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.says);
    if (!c.fault.is_null()) faults().inject(c.fault);
    const auto run = corvenza("list", c.settings);
    faults().clear();
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("not-the-key"), std::string::npos) << "the key is never shown";
  }
}

TEST_F(CliErrorsTest, ListedItemsHoldNoFieldsTheyNeverCarried) {
  ASSERT_EQ(corvenza("create --height 170 --weight 60 --age 30 --front " +
                     shellQuoted(kExamplePhotos + "side-3024x4032.jpg") + " --side " +
                     shellQuoted(kExamplePhotos + "side-3024x4032.jpg"))
                .exitCode,
            0);
  const auto listed = corvenza("list --json");
  ASSERT_EQ(listed.exitCode, 0) << listed.err;
  std::istringstream lines(listed.out);
  int items = 0;
  for (std::string line; std::getline(lines, line); ++items) {
    const auto item = json::parse(line, nullptr, false);
    ASSERT_TRUE(item.is_object()) << line;
    for (const auto& [name, value] : item.items()) EXPECT_FALSE(value.is_null()) << name;
  }
  EXPECT_GE(items, 1);
}

TEST_F(CliErrorsTest, WatchWithoutATimeLimitSaysWhenItNeverSubscribed) {
  faults().inject(
      json{{"route", "realtime"}, {"action", "fail"}, {"status", 503}, {"times", "always"}});
  const auto watched = corvenza("watch --create --subscribe-timeout 3");
  EXPECT_EQ(watched.exitCode, 1);
  EXPECT_NE(watched.err.find("never subscribed: " + host() +
                             " did not accept the subscription within 3 s"),
            std::string::npos)
      << watched.err;
}

TEST_F(CliErrorsTest, WatchThatNeverSubscribedFails) {
  SilentServer silent;
  ASSERT_TRUE(silent.ok());
  const auto watched = corvenza("watch --timeout 2", "CORVENZA_API_URL=" + silent.url());
  EXPECT_EQ(watched.exitCode, 1);
  EXPECT_NE(watched.err.find("never subscribed"), std::string::npos) << watched.err;
}

}  // namespace
}  // namespace corvenza::test
