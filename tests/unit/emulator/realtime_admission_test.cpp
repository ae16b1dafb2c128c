// The real-time endpoint closes connections that never complete
// connection_init, and keeps the ones it acknowledged.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "emulator.h"
#include "realtime_caller.h"
#include "testkit/raw_websocket.h"
#include "testkit/temp_dir.h"

namespace corvenza::emulator {
namespace {

using namespace std::chrono_literals;
using test::RawWebSocket;

class RealtimeAdmissionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EmulatorOptions options;
    options.dataDir = dir.path() / "data";
    options.realtimeInitTimeout = 1s;
    options.realtimeKeepAlive = 100ms;
    ASSERT_TRUE(emulator.start(options).ok());
  }

  test::TempDir dir;
  Emulator emulator;
};

TEST_F(RealtimeAdmissionTest, ClosesConnectionsThatNeverCompleteConnectionInit) {
  RawWebSocket silent(emulator.port(), "/graphql/realtime");
  ASSERT_TRUE(silent.ok());
  EXPECT_TRUE(silent.closedByPeer(10s));

  // Talking without a good connection_init buys no time either: an unsigned
  // connection's init is refused, other messages are answered with errors.
  RawWebSocket chatty(emulator.port(), "/graphql/realtime");
  ASSERT_TRUE(chatty.ok());
  for (const auto* message : {R"({"type":"start","id":"1"})", "not json", R"({"type":"ka"})"}) {
    EXPECT_TRUE(chatty.send(message));
  }
  EXPECT_TRUE(chatty.closedByPeer(10s));
}

TEST_F(RealtimeAdmissionTest, KeepsAcknowledgedConnectionsPastTheBound) {
  const testing::RealtimeCaller caller(emulator,
                                       "ap-northeast-1:dddddddd-0000-4000-8000-000000000004");
  RawWebSocket client(emulator.port(), caller.target());
  ASSERT_TRUE(client.ok());
  ASSERT_TRUE(client.send(R"({"type":"connection_init"})"));
  ASSERT_TRUE(client.readUntil("connection_ack", 10s));
  // Keep-alives keep coming well after the bound has passed.
  const auto until = std::chrono::steady_clock::now() + 1500ms;
  while (std::chrono::steady_clock::now() < until) {
    ASSERT_TRUE(client.readUntil("\"ka\"", 10s)) << "closed while acknowledged";
  }
}

}  // namespace
}  // namespace corvenza::emulator
