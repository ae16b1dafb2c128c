// Randomized real-time frames: every frame is read as a message whose fields
// the connection can use as they are, or refused as malformed.

#include <gtest/gtest.h>

#include <limits>
#include <nlohmann/json.hpp>

#include "platform/appsync/realtime/messages.h"
#include "testkit/mutations.h"

namespace corvenza::appsync {
namespace {

using nlohmann::json;

std::vector<std::string> sampleFrames() {
  return {
      R"({"type":"connection_ack","payload":{"connectionTimeoutMs":300000}})",
      R"({"type":"ka"})",
      R"({"type":"start_ack","id":"s1"})",
      R"({"type":"data","id":"s1","payload":{"data":{"onUpdateBodysizeEstimation":)"
      R"({"__typename":"BodysizeEstimation","id":"r","status":"completed"}}}})",
      R"({"type":"data","id":"s2","payload":{"data":null,"errors":[{"message":"m","path":["a",1]}]}})",
      R"({"type":"error","id":"s3","payload":{"errors":[{"errorType":"UnauthorizedException",)"
      R"("message":"no","errorCode":401}]}})",
      R"({"type":"connection_error","payload":{"errors":{"errorType":"LimitExceeded","errorCode":429}}})",
      R"({"type":"complete","id":"s1"})",
  };
}

void expectReadable(std::string_view text) {
  SCOPED_TRACE(std::string(text.substr(0, 300)));
  const test::ExactBytes exact(text);
  const auto parsed = parseServerMessage(exact.text());
  if (!parsed) {
    EXPECT_EQ(parsed.error().domain(), kRealtimeErrorDomain);
    EXPECT_EQ(parsed.error().code(), 1);
    EXPECT_FALSE(parsed.error().localizedDescription().empty());
    return;
  }
  const ServerMessage& message = parsed.value();
  const json frame = json::parse(text, nullptr, /*allow_exceptions=*/false);
  ASSERT_TRUE(frame.is_object());
  const json payload = frame.value("payload", json());
  switch (message.type) {
    case ServerMessageType::connectionAck:
      EXPECT_EQ(frame["type"], "connection_ack");
      // The connection adds this to the clock: it must be a usable span.
      if (message.connectionTimeoutMs) {
        EXPECT_GE(*message.connectionTimeoutMs, 1);
        EXPECT_LE(*message.connectionTimeoutMs, kMaxConnectionTimeoutMs);
      }
      break;
    case ServerMessageType::startAck:
    case ServerMessageType::complete:
      EXPECT_FALSE(message.id.empty());
      EXPECT_EQ(frame["id"], message.id);
      break;
    case ServerMessageType::data:
      EXPECT_FALSE(message.id.empty());
      ASSERT_TRUE(message.result);
      if (payload.contains("data") && !payload["data"].is_null()) {
        EXPECT_EQ(message.result->data, payload["data"]);
      }
      break;
    case ServerMessageType::error:
    case ServerMessageType::connectionError: {
      ASSERT_FALSE(message.errors.empty());
      for (const auto& error : message.errors) {
        EXPECT_FALSE(error.localizedDescription().empty());
      }
      // A code is taken only as the service sent it, never wrapped into another.
      if (message.errorCode) {
        const json& errors = payload["errors"];
        const json& first = errors.is_array() ? errors.front() : errors;
        EXPECT_EQ(first["errorCode"], *message.errorCode);
      }
      (void)isAuthorizationFailure(message);
      break;
    }
    case ServerMessageType::keepAlive:
      EXPECT_EQ(frame["type"], "ka");
      break;
  }
}

TEST(RealtimeMessagesFuzzTest, AnyFrameIsReadAsAUsableMessageOrRefused) {
  test::Mutator mutator(31337);
  const auto count = test::forEachVariant(sampleFrames(), mutator, 800, expectReadable);
  EXPECT_GT(count, 3000u);

  // Numbers a careless reader would wrap or overflow.
  for (const std::string number :
       {"0", "-1", "1.5", "2147483648", "4294967697", "-4294967295", "9223372036854775807",
        "18446744073709551615", "86400001", "1e300"}) {
    expectReadable(R"({"type":"connection_ack","payload":{"connectionTimeoutMs":)" + number + "}}");
    expectReadable(R"({"type":"connection_error","payload":{"errors":[{"errorCode":)" + number +
                   "}]}}");
  }
  const auto wrapped = parseServerMessage(
      R"({"type":"error","id":"s","payload":{"errors":[{"errorCode":4294967697}]}})");
  ASSERT_TRUE(wrapped);
  EXPECT_FALSE(isAuthorizationFailure(wrapped.value())) << "4294967697 is not 401";

  const std::string deep = test::nestedArrays(100'000);
  for (const std::string& frame :
       {R"({"type":"data","id":"s","payload":{"data":)" + deep + "}}",
        R"({"type":"error","id":"s","payload":{"errors":[{"message":)" + deep + "}]}}", deep}) {
    expectReadable(frame);
  }
}

}  // namespace
}  // namespace corvenza::appsync
