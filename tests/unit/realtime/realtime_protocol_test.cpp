#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "platform/appsync/realtime/messages.h"
#include "platform/appsync/realtime/realtime_auth.h"
#include "platform/encoding/base64.h"
#include "platform/sigv4/encoding.h"
#include "sigv4_verifier.h"

namespace corvenza::appsync {
namespace {

using Json = nlohmann::json;

TEST(RealtimeMessagesTest, EveryServerMessageTypeIsRead) {
  auto ack =
      parseServerMessage(R"({"type":"connection_ack","payload":{"connectionTimeoutMs":300000}})");
  ASSERT_TRUE(ack);
  EXPECT_EQ(ack.value().type, ServerMessageType::connectionAck);
  EXPECT_EQ(ack.value().connectionTimeoutMs, 300000);

  auto bareAck = parseServerMessage(R"({"type":"connection_ack"})");
  ASSERT_TRUE(bareAck);
  EXPECT_FALSE(bareAck.value().connectionTimeoutMs);

  auto ka = parseServerMessage(R"({"type":"ka"})");
  ASSERT_TRUE(ka);
  EXPECT_EQ(ka.value().type, ServerMessageType::keepAlive);

  auto startAck = parseServerMessage(R"({"type":"start_ack","id":"s1"})");
  ASSERT_TRUE(startAck);
  EXPECT_EQ(startAck.value().type, ServerMessageType::startAck);
  EXPECT_EQ(startAck.value().id, "s1");

  auto data = parseServerMessage(
      R"({"type":"data","id":"s1","payload":{"data":{"onCreateBodysizeEstimation":{"id":"r"}}}})");
  ASSERT_TRUE(data);
  ASSERT_TRUE(data.value().result);
  EXPECT_EQ(data.value().result->data->at("onCreateBodysizeEstimation").at("id"), "r");
  EXPECT_FALSE(data.value().result->errors);

  auto dataWithErrors = parseServerMessage(
      R"({"type":"data","id":"s1","payload":{"data":null,"errors":[{"message":"bad"}]}})");
  ASSERT_TRUE(dataWithErrors);
  EXPECT_FALSE(dataWithErrors.value().result->data);
  ASSERT_EQ(dataWithErrors.value().result->errors->size(), 1u);

  auto complete = parseServerMessage(R"({"type":"complete","id":"s1"})");
  ASSERT_TRUE(complete);
  EXPECT_EQ(complete.value().type, ServerMessageType::complete);
}

TEST(RealtimeMessagesTest, ErrorsAreReadAsArrayOrObjectAndClassified) {
  auto asArray = parseServerMessage(
      R"({"type":"error","id":"s1","payload":{"errors":[{"errorType":"Unauthorized","message":"no"}]}})");
  ASSERT_TRUE(asArray);
  ASSERT_EQ(asArray.value().errors.size(), 1u);
  EXPECT_EQ(asArray.value().errors[0].localizedDescription(), "no");
  EXPECT_TRUE(isAuthorizationFailure(asArray.value()));

  auto asObject = parseServerMessage(
      R"({"type":"error","id":"s2","payload":{"errors":{"errorType":"LimitExceededError","message":"too many"}}})");
  ASSERT_TRUE(asObject);
  ASSERT_EQ(asObject.value().errors.size(), 1u);
  EXPECT_EQ(asObject.value().errors[0].localizedDescription(), "too many");
  EXPECT_FALSE(isAuthorizationFailure(asObject.value()));

  auto refused = parseServerMessage(
      R"({"type":"connection_error","payload":{"errors":[{"errorType":"x","errorCode":401}]}})");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused.value().errorCode, 401);
  EXPECT_TRUE(isAuthorizationFailure(refused.value()));

  // An error without details still carries one error for the handlers.
  auto bare = parseServerMessage(R"({"type":"error","id":"s3"})");
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare.value().errors.size(), 1u);
  EXPECT_FALSE(isAuthorizationFailure(bare.value()));
}

TEST(RealtimeMessagesTest, MalformedFramesAndEveryTruncationAreRejected) {
  for (const char* text :
       {"", "[]", "{", R"({"type":7})", R"({"type":"unknown"})", R"({"type":"data","id":"s"})",
        R"({"type":"start_ack"})", R"({"type":"data","payload":{"data":{}}})"}) {
    EXPECT_FALSE(parseServerMessage(text)) << text;
  }
  const std::string whole =
      R"({"type":"data","id":"s1","payload":{"data":{"onUpdateBodysizeEstimation":{"id":"r","status":"completed"}}}})";
  ASSERT_TRUE(parseServerMessage(whole));
  for (std::size_t n = 0; n < whole.size(); ++n) {
    EXPECT_FALSE(parseServerMessage(std::string_view(whole).substr(0, n))) << n;
  }
}

TEST(RealtimeMessagesTest, ClientMessagesCarryTheSignedDataVerbatim) {
  EXPECT_EQ(Json::parse(connectionInitMessage()), (Json{{"type", "connection_init"}}));
  EXPECT_EQ(Json::parse(stopMessage("s1")), (Json{{"type", "stop"}, {"id", "s1"}}));

  GraphQLRequest request{"subscription S($userId: String!) { x }", Json{{"userId", "u1"}},
                         std::nullopt};
  auto data = startData(request);
  EXPECT_EQ(Json::parse(data), (Json{{"query", request.query}, {"variables", {{"userId", "u1"}}}}));
  auto start = Json::parse(startMessage("s1", data, Json{{"host", "h"}}));
  EXPECT_EQ(start["type"], "start");
  EXPECT_EQ(start["id"], "s1");
  // A string, byte for byte what was signed, not a re-encoded object.
  EXPECT_EQ(start["payload"]["data"], data);
  EXPECT_EQ(start["payload"]["extensions"]["authorization"]["host"], "h");
}

TEST(RealtimeUrlTest, StandardHostMovesToTheRealtimeHostOthersGainRealtimePath) {
  auto standard = realtimeEndpoint("https://abc123.appsync-api.eu-west-1.amazonaws.com/graphql");
  ASSERT_TRUE(standard);
  EXPECT_EQ(standard.value().url,
            "wss://abc123.appsync-realtime-api.eu-west-1.amazonaws.com/graphql");
  EXPECT_EQ(standard.value().apiHost, "abc123.appsync-api.eu-west-1.amazonaws.com");
  EXPECT_EQ(standard.value().port, "443");
  EXPECT_TRUE(standard.value().tls);

  auto custom = realtimeEndpoint("https://api.example.com/graphql");
  ASSERT_TRUE(custom);
  EXPECT_EQ(custom.value().url, "wss://api.example.com/graphql/realtime");
  EXPECT_EQ(custom.value().apiHost, "api.example.com");

  auto local = realtimeEndpoint("http://127.0.0.1:8123/graphql");
  ASSERT_TRUE(local);
  EXPECT_EQ(local.value().url, "ws://127.0.0.1:8123/graphql/realtime");
  EXPECT_FALSE(local.value().tls);
  EXPECT_EQ(local.value().host, "127.0.0.1");
  EXPECT_EQ(local.value().port, "8123");
  EXPECT_EQ(local.value().path, "/graphql/realtime");
  EXPECT_EQ(local.value().apiHost, "127.0.0.1:8123");

  EXPECT_FALSE(realtimeEndpoint("not a url"));
}

class RealtimeAuthTest : public ::testing::Test {
 protected:
  sigv4::Credentials credentials_{"AKIDEXAMPLE", "secret", "session-token", std::nullopt};
  std::chrono::system_clock::time_point time_ = *sigv4::parseAmzDate("20240102T030405Z");

  sigv4::Verification verify(const Json& blob, const std::string& path, std::string_view body) {
    sigv4::ReceivedRequest request;
    request.method = "POST";
    request.target = path;
    for (const auto& [key, value] : blob.items()) {
      request.headers.emplace_back(key, value.get<std::string>());
    }
    request.body = body;
    sigv4::VerifierOptions options;
    options.lookup = [this](std::string_view key) -> std::optional<sigv4::Credentials> {
      if (key == credentials_.accessKeyId) return credentials_;
      return std::nullopt;
    };
    options.service = "appsync";
    return sigv4::verifyRequest(request, options, time_);
  }
};

TEST_F(RealtimeAuthTest, HandshakeBlobSignsTheConnectPathAndEmptyObject) {
  auto endpoint = realtimeEndpoint("https://api.example.com/graphql").value();
  auto blob = connectAuthorization(endpoint, credentials_, "eu-west-1", time_);
  ASSERT_TRUE(blob);
  const auto& b = blob.value();
  EXPECT_EQ(b["accept"], "application/json, text/javascript");
  EXPECT_EQ(b["content-encoding"], "amz-1.0");
  EXPECT_EQ(b["content-type"], "application/json; charset=UTF-8");
  EXPECT_EQ(b["host"], "api.example.com");  // the GraphQL host, not the socket's
  EXPECT_EQ(b["x-amz-date"], "20240102T030405Z");
  EXPECT_EQ(b["x-amz-security-token"], "session-token");
  auto authorization = b["Authorization"].get<std::string>();
  EXPECT_NE(authorization.find("Credential=AKIDEXAMPLE/20240102/eu-west-1/appsync/aws4_request"),
            std::string::npos);
  EXPECT_NE(authorization.find("SignedHeaders=accept;content-encoding;content-type;host;x-amz-date;"
                               "x-amz-security-token,"),
            std::string::npos);

  EXPECT_TRUE(verify(b, "/graphql/connect", "{}").ok());
  EXPECT_FALSE(verify(b, "/graphql", "{}").ok());
  EXPECT_FALSE(verify(b, "/graphql/connect", "").ok());

  // Delivered base64-encoded in the query, with the fixed empty payload.
  auto query = handshakeQuery(b);
  ASSERT_EQ(query.rfind("?header=", 0), 0u);
  auto amp = query.find("&payload=e30=");
  ASSERT_NE(amp, std::string::npos);
  EXPECT_EQ(Json::parse(*encoding::base64Decode(query.substr(8, amp - 8))), b);
}

TEST_F(RealtimeAuthTest, StartBlobSignsTheEndpointPathAndTheExactData) {
  auto endpoint = realtimeEndpoint("http://127.0.0.1:9000/graphql").value();
  const std::string data = R"({"query":"subscription { x }","variables":{"userId":"u"}})";
  auto blob = startAuthorization(endpoint, data, credentials_, "us-east-1", time_);
  ASSERT_TRUE(blob);
  EXPECT_EQ(blob.value()["host"], "127.0.0.1:9000");
  EXPECT_TRUE(verify(blob.value(), "/graphql", data).ok());
  EXPECT_FALSE(verify(blob.value(), "/graphql", data + " ").ok());
}

}  // namespace
}  // namespace corvenza::appsync
