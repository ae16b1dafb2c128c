// The command-line tool says what went wrong, in words, with the code kept
// for scripts; bad input is a usage error before anything is sent.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "integration/cli_fixture.h"

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

  // The tool against the emulator as "errors-user"; @p overrides come last.
  ToolRun corvenza(const std::string& args, const std::string& overrides = {}) {
    return run(args, "CORVENZA_USER_ID=errors-user " + overrides);
  }
};

TEST_F(CliErrorsTest, BadValuesAreUsageErrorsAndNothingIsSent) {
  const std::string photos = " --weight 60 --age 30 --front " +
                             shellQuoted(kExamplePhotos + "side-3024x4032.jpg") + " --side " +
                             shellQuoted(kExamplePhotos + "side-3024x4032.jpg");
  const std::vector<std::string> cases = {
      "create --height NaN" + photos, "create --height inf" + photos,
      "create --height 1e999" + photos, "update some-id --height 170 --weight nan --age 3",
      // Not UTF-8: raw bytes, an overlong NUL, a lone surrogate.
      "get " + shellQuoted("\xff\xfe"), "delete " + shellQuoted("a\xc0\x80"),
      "list --next-token " + shellQuoted("\xed\xa0\x80")};
  for (const auto& args : cases) {
    SCOPED_TRACE(args);
    const auto run = corvenza(args);
    EXPECT_EQ(run.exitCode, 2) << run.err;
    EXPECT_TRUE(run.out.empty());
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

  const auto wrongKey = corvenza("list", "CORVENZA_API_KEY=not-the-key");
  EXPECT_EQ(wrongKey.exitCode, 1);
  EXPECT_NE(wrongKey.err.find("the authentication service refused the API key (HTTP 401)"),
            std::string::npos)
      << wrongKey.err;
  EXPECT_EQ(wrongKey.err.find("not-the-key"), std::string::npos) << "the key is never shown";

  const auto unreachable = corvenza("list", "CORVENZA_API_URL=http://127.0.0.1:9");
  EXPECT_EQ(unreachable.exitCode, 1);
  EXPECT_NE(unreachable.err.find("cannot reach the authentication service"), std::string::npos)
      << unreachable.err;
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

TEST_F(CliErrorsTest, WatchThatNeverSubscribedFails) {
  SilentServer silent;
  ASSERT_TRUE(silent.ok());
  const auto watched = corvenza("watch --timeout 2", "CORVENZA_API_URL=" + silent.url());
  EXPECT_EQ(watched.exitCode, 1);
  EXPECT_NE(watched.err.find("never subscribed"), std::string::npos) << watched.err;
}

}  // namespace
}  // namespace corvenza::test
