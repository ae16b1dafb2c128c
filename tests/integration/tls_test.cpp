// The whole client over TLS, trusting only the emulator's private CA through
// AWS_CA_BUNDLE: a creation with its photos and its events (https and wss)
// and the queue; without that CA nothing is sent to a server it cannot verify.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "integration/cli_fixture.h"

namespace corvenza::test {
namespace {

class TlsTest : public CliSuite {
 protected:
  static void SetUpTestSuite() { startEmulator({"--tls", "--estimation-delay", "300"}); }
};

TEST_F(TlsTest, ACreationItsEventsAndTheQueueGoOverTlsTrustingTheEmulatorsCa) {
  // The creation's event reaches a watch over wss while it is made over https.
  const std::string cli = shellQuoted(CORVENZA_CLI_PATH);
  const auto created =
      runShell(environment("CORVENZA_USER_ID=tls-user") + " { " + cli +
                   " watch --create --count 1 --timeout 60 --json > " +
                   shellQuoted((home_.path() / "events").string()) + " & sleep 2; " + cli + " " +
                   createArgs() + " --wait --timeout 60 --json; status=$?; wait; exit $status; }",
               home_.path() / "create.err");
  ASSERT_EQ(created.exitCode, 0) << created.err;
  const auto record = nlohmann::json::parse(created.out, nullptr, false);
  ASSERT_TRUE(record.is_object()) << created.out;
  EXPECT_EQ(record.value("status", ""), "completed");
  std::ifstream events(home_.path() / "events");
  const std::string heard((std::istreambuf_iterator<char>(events)),
                          std::istreambuf_iterator<char>());
  EXPECT_NE(heard.find(record.value("id", "?")), std::string::npos) << heard;

  const auto added = run("queue add --height 170 --weight 62.5 --age 35 --front " +
                             shellQuoted(kExamplePhotos + "small-800x1200.png") + " --side " +
                             shellQuoted(kExamplePhotos + "small-800x1200.png"),
                         "CORVENZA_USER_ID=tls-user");
  ASSERT_EQ(added.exitCode, 0) << added.err;
  const auto ran = run("queue run", "CORVENZA_USER_ID=tls-user");
  EXPECT_EQ(ran.exitCode, 0) << ran.err;
  EXPECT_NE(run("queue list", "CORVENZA_USER_ID=tls-user").out.find("done"), std::string::npos);
}

TEST_F(TlsTest, AServerWhoseCertificateDoesNotVerifyIsNeverTalkedTo) {
  const auto listed = run("list", "CORVENZA_USER_ID=tls-user && unset AWS_CA_BUNDLE");
  EXPECT_EQ(listed.exitCode, 1) << listed.out;
  EXPECT_NE(listed.err.find("certificate is not trusted"), std::string::npos) << listed.err;
}

}  // namespace
}  // namespace corvenza::test
