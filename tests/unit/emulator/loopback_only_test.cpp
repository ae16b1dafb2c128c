// Every route answers only requests from and for this machine: a page that
// rebinds its own name to 127.0.0.1 still sends that name as Host, and any
// page sends its Origin. The control hooks take only bodies declared as JSON,
// which a cross-site form or simple request cannot send.

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <tuple>
#include <vector>

#include "emulator.h"
#include "testkit/raw_connection.h"
#include "testkit/temp_dir.h"

namespace corvenza::emulator {
namespace {

using namespace std::chrono_literals;

const std::string kJsonHeaderLine = "Content-Type: application/json\r\n";

class LoopbackOnlyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EmulatorOptions options;
    options.dataDir = dir.path() / "data";
    ASSERT_TRUE(emulator.start(options).ok());
    port = std::to_string(emulator.port());
  }

  // The status @p request ("POST /path") is answered with; @p headers end in CRLF each.
  int status(const std::string& request, const std::string& headers, const std::string& body) {
    test::RawConnection connection(emulator.port());
    connection.send(request + " HTTP/1.1\r\n" + headers +
                    "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    const auto reply = connection.receive(
        10s, [](const std::string& got) { return got.find("\r\n") != std::string::npos; });
    return reply.rfind("HTTP/1.1 ", 0) == 0 ? std::stoi(reply.substr(9, 3)) : 0;
  }

  test::TempDir dir;
  Emulator emulator;
  std::string port;
};

TEST_F(LoopbackOnlyTest, EveryRouteAnswersOnlyThisMachine) {
  const std::vector<std::array<std::string, 3>> routes = {
      // request, headers, body
      {"POST /auth/token", "x-api-key: corvenza-emulator-key\r\n" + kJsonHeaderLine,
       R"({"user_id":"m"})"},
      {"POST /identity/", "X-Amz-Target: AWSCognitoIdentityService.GetId\r\n", "{}"},
      {"POST /graphql", kJsonHeaderLine, R"({"query":"{ __typename }"})"},
      {"GET /graphql/realtime",
       "Connection: Upgrade\r\nUpgrade: websocket\r\nSec-WebSocket-Version: 13\r\n"
       "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n",
       ""},
      {"GET /s3/corvenza-photos/someone/photo.jpg", "", ""},
      {"GET /_control/faults", "", ""},
      {"POST /_control/clock", kJsonHeaderLine, R"({"advance_seconds":0})"},
      {"POST /_control/drop-realtime-connections", "", ""},
      {"POST /_control/estimator/complete", kJsonHeaderLine,
       R"({"id":"0f8fad5b-d9cb-469f-a165-70867728950e"})"},
      {"GET /dashboard/", "", ""}};
  for (const auto& [request, headers, body] : routes) {
    const auto served = status(request, "Host: 127.0.0.1:" + port + "\r\n" + headers, body);
    EXPECT_NE(served, 421) << request;
    for (const auto& host : {"evil.example:" + port, std::string("evil.example"),
                             "127.0.0.1.evil.example:" + port, std::string("localhost.evil")}) {
      EXPECT_EQ(status(request, "Host: " + host + "\r\n" + headers, body), 421) << request << host;
    }
    EXPECT_EQ(status(request, headers, body), 421) << request << " naming no host";
    // A second value must not hide behind a good first one.
    const auto good = "Host: 127.0.0.1:" + port + "\r\n";
    for (const auto& [twice, refused] : {std::pair{good + "Host: evil.example\r\n", 421},
                                         std::pair{good + "Origin: http://127.0.0.1:" + port +
                                                       "\r\nOrigin: http://evil.example\r\n",
                                                   403}}) {
      EXPECT_EQ(status(request, twice + headers, body), refused) << request << " with " << twice;
    }
    for (const auto& origin : {std::string("http://evil.example"), std::string("null"),
                               "https://127.0.0.1.evil.example:" + port}) {
      const auto from = "Host: 127.0.0.1:" + port + "\r\nOrigin: " + origin + "\r\n";
      EXPECT_EQ(status(request, from + headers, body), 403) << request << " from " << origin;
    }
    for (const auto& local : {"localhost:" + port, "[::1]:" + port}) {
      const auto from = "Host: " + local + "\r\nOrigin: http://" + local + "\r\n";
      EXPECT_EQ(status(request, from + headers, body), served) << request << " for " << local;
    }
  }
}

TEST_F(LoopbackOnlyTest, ControlHooksTakeOnlyBodiesDeclaredAsJson) {
  const std::string fault = R"({"route":"storage","method":"DELETE","action":"fail"})";
  const std::string faults = "POST /_control/faults";
  const std::string drop = "POST /_control/drop-realtime-connections";
  const std::vector<std::tuple<std::string, std::string, std::string, int>> cases = {
      {faults, "text/plain", fault, 415},
      {faults, "application/x-www-form-urlencoded", fault, 415},
      {faults, "", fault, 415},
      {"POST /_control/clock", "text/plain;charset=UTF-8", R"({"advance_seconds":60})", 415},
      {drop, "application/x-www-form-urlencoded", "", 415},
      {drop, "multipart/form-data; boundary=x", "", 415},
      {faults, "application/json", fault, 200},
      {faults, "Application/JSON; charset=utf-8", fault, 200},
      {drop, "", "", 204},
      {drop, "application/json", "", 204}};
  for (const auto& [request, type, body, expected] : cases) {
    const auto typed = type.empty() ? "" : "Content-Type: " + type + "\r\n";
    EXPECT_EQ(status(request, "Host: 127.0.0.1:" + port + "\r\n" + typed, body), expected)
        << request << " as '" << type << "'";
  }
  EXPECT_EQ(emulator.context().clock.offsetSeconds(), 0) << "a refused request moved the clock";
  EXPECT_EQ(emulator.context().faults.list().size(), 2u) << "a refused request added a fault";
}

}  // namespace
}  // namespace corvenza::emulator
