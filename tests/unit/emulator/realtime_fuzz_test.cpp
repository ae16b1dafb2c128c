// The real-time protocol handling against hostile messages on an
// acknowledged connection: random text, mutated and type-confused protocol
// messages, deep nesting. The service answers or ignores each one, and a
// well-formed subscription still starts afterwards. Fixed seed, bounded count.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <random>

#include "emulator.h"
#include "realtime_caller.h"
#include "testkit/raw_websocket.h"
#include "testkit/temp_dir.h"

namespace corvenza::emulator {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using test::RawWebSocket;

// Keeps bytes that are not UTF-8 out of text frames, which the WebSocket
// layer rightly refuses before the service sees them.
std::string printable(std::string text) {
  for (auto& c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) c = '?';
  }
  return text;
}

std::string mutate(std::string text, std::mt19937& random) {
  static const std::vector<std::string> pieces = {"{",
                                                  "}",
                                                  "[",
                                                  "]",
                                                  "\"",
                                                  ",",
                                                  ":",
                                                  "null",
                                                  "1e999",
                                                  "-1",
                                                  "\\u0000",
                                                  "\"id\":7,",
                                                  "\"type\":[],",
                                                  "\"payload\":\"x\","};
  for (int e = 1 + static_cast<int>(random() % 3); e > 0 && !text.empty(); --e) {
    const auto at = static_cast<std::size_t>(random() % text.size());
    switch (random() % 3) {
      case 0:
        text[at] = static_cast<char>(32 + random() % 95);
        break;
      case 1:
        text.insert(at, pieces[random() % pieces.size()]);
        break;
      default:
        text.erase(at, 1 + random() % 12);
        break;
    }
  }
  return text;
}

class RealtimeFuzzTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EmulatorOptions options;
    options.dataDir = dir.path() / "data";
    ASSERT_TRUE(emulator.start(options).ok());
  }

  std::unique_ptr<RawWebSocket> acknowledged(const testing::RealtimeCaller& caller) {
    auto socket = std::make_unique<RawWebSocket>(emulator.port(), caller.target());
    EXPECT_TRUE(socket->ok());
    socket->send(R"({"type":"connection_init"})");
    EXPECT_TRUE(socket->readUntil("connection_ack", 10s));
    return socket;
  }

  test::TempDir dir;
  Emulator emulator;
};

TEST_F(RealtimeFuzzTest, HostileMessagesNeitherCrashNorWedgeTheConnection) {
  const testing::RealtimeCaller caller(emulator,
                                       "ap-northeast-1:eeeeeeee-0000-4000-8000-000000000005");
  const auto data = caller.subscriptionData("onCreateBodysizeEstimation");
  const std::vector<std::string> valid = {R"({"type":"connection_init"})", caller.start("s1", data),
                                          R"({"type":"stop","id":"s1"})", R"({"type":"ka"})"};
  const std::vector<std::string> confused = {
      R"({"type":7,"id":[]})",
      R"({"type":"start","id":{"a":1}})",
      R"({"type":"start","id":"x","payload":[]})",
      R"({"type":"start","id":"x","payload":{"data":5}})",
      R"({"type":"start","id":"x","payload":{"data":"{}","extensions":[]}})",
      R"({"type":"start","id":"x","payload":{"data":"{}","extensions":{"authorization":7}}})",
      R"({"type":"stop","id":null})",
      caller.start(std::string(5000, 'i'), data),
      caller.start("deep", R"({"query":"subscription { a }","variables":{"u":)" +
                               std::string(60'000, '[') + std::string(60'000, ']') + "}}"),
      std::string(60'000, '[') + std::string(60'000, ']'),
      "",
      "[]",
      "null"};

  std::mt19937 random(8086);
  auto socket = acknowledged(caller);
  for (int round = 0; round < 400; ++round) {
    std::string message;
    if (round < static_cast<int>(confused.size())) {
      message = confused[static_cast<std::size_t>(round)];
    } else if (round % 4 == 0) {
      message.resize(random() % 200);
      for (auto& c : message) c = static_cast<char>(random() % 256);
      message = printable(message);
    } else {
      message = mutate(valid[random() % valid.size()], random);
    }
    if (!socket->send(message)) {
      // A message the service closed the connection over: start afresh.
      socket = acknowledged(caller);
      ASSERT_TRUE(socket->ok()) << "emulator gone after " << ::testing::PrintToString(message);
    }
  }
  // Whatever came before, a good start on this connection is still acknowledged.
  ASSERT_TRUE(socket->send(caller.start("final", data)));
  const auto ack = socket->readUntil(R"("id":"final","type":"start_ack")", 20s);
  EXPECT_TRUE(ack) << "no start_ack after the hostile messages";
}

}  // namespace
}  // namespace corvenza::emulator
