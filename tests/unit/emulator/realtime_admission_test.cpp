// The real-time endpoint closes connections that never complete
// connection_init, keeps the ones it acknowledged, and bounds what a client
// may send and hold.

#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <thread>
#include <tuple>
#include <vector>

#include "emulator.h"
#include "realtime/realtime_service.h"
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

// Connections stay open while limits are tested: none times out meanwhile.
class RealtimeLimitsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EmulatorOptions options;
    options.dataDir = dir.path() / "data";
    options.realtimeInitTimeout = 60s;
    ASSERT_TRUE(emulator.start(options).ok());
  }

  test::TempDir dir;
  Emulator emulator;
};

// Unacknowledged, a client needs only a tiny connection_init; acknowledged, a
// start with its document. A larger message closes the connection before it
// is read whole; an error answer would mean it was read.
TEST_F(RealtimeLimitsTest, MessagesOverTheLimitOfTheirStateCloseTheConnection) {
  using Limits = RealtimeService;
  const std::tuple<bool, std::size_t, bool> cases[] = {
      // acknowledged, size, read
      {false, Limits::kUnacknowledgedMessageLimit, true},
      {false, Limits::kUnacknowledgedMessageLimit + 1, false},
      {false, std::size_t{15} << 20, false},
      {true, Limits::kMessageLimit, true},
      {true, Limits::kMessageLimit + 1, false}};
  const testing::RealtimeCaller caller(emulator,
                                       "ap-northeast-1:dddddddd-0000-4000-8000-000000000005");
  for (const auto& [acknowledged, size, read] : cases) {
    SCOPED_TRACE(std::to_string(size) + (acknowledged ? " bytes after" : " bytes before") +
                 " connection_ack");
    RawWebSocket client(emulator.port(), acknowledged ? caller.target() : "/graphql/realtime");
    ASSERT_TRUE(client.ok());
    if (acknowledged) {
      ASSERT_TRUE(client.send(R"({"type":"connection_init"})"));
      ASSERT_TRUE(client.readUntil("connection_ack", 10s));
    }
    client.send(std::string(size, ' '));  // not JSON: answered with an error once read
    EXPECT_EQ(client.readUntil(R"("type":"error")", 10s).has_value(), read);
    if (!read) {
      EXPECT_TRUE(client.closedByPeer(10s));
    }
  }
}

// One peer address holds at most its share of sockets; a closed one frees its place.
TEST_F(RealtimeLimitsTest, OnePeerHoldsAtMostItsShareOfConnections) {
  std::vector<std::unique_ptr<RawWebSocket>> open;
  for (std::size_t i = 0; i < RealtimeService::kMaxConnectionsPerPeer; ++i) {
    open.push_back(std::make_unique<RawWebSocket>(emulator.port(), "/graphql/realtime"));
    ASSERT_TRUE(open.back()->ok()) << "connection " << i;
  }
  RawWebSocket refused(emulator.port(), "/graphql/realtime");
  EXPECT_FALSE(refused.ok());
  EXPECT_EQ(refused.handshakeResponse().result_int(), 429);

  open.pop_back();
  bool admitted = false;
  for (int attempt = 0; attempt < 100 && !admitted; ++attempt) {
    admitted = RawWebSocket(emulator.port(), "/graphql/realtime").ok();
    if (!admitted) std::this_thread::sleep_for(50ms);
  }
  EXPECT_TRUE(admitted) << "a closed connection kept its place";
}

}  // namespace
}  // namespace corvenza::emulator
