// Injected faults against a live emulator process, driven over plain HTTP and
// WebSocket: each action on each kind of route, before and after the service
// runs, set through the control interface and on the command line.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>

#include "emulator_caller.h"
#include "emulator_http_client.h"
#include "platform/appsync/realtime/realtime_auth.h"
#include "testkit/emulator_process.h"
#include "testkit/raw_websocket.h"

namespace corvenza::test {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

constexpr const char* kCreate =
    "mutation C($input: CreateBodysizeEstimationInput!) { "
    "createBodysizeEstimation(input: $input) { id } }";
constexpr const char* kList = "query L { listBodysizeEstimations(limit: 100) { items { id } } }";
const json kCreateInput = {{"input", {{"height", 170.0}, {"weight", 60.0}, {"age", 30}}}};

class EmulatorFaultsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    emulator_ = std::make_unique<EmulatorProcess>(CORVENZA_EMULATOR_PATH);
  }
  static void TearDownTestSuite() { emulator_.reset(); }

  void SetUp() override {
    ASSERT_TRUE(emulator_->ok()) << emulator_->error();
    ASSERT_EQ(control("DELETE").status, 200);
  }
  void TearDown() override { control("DELETE"); }

  static PlainResponse control(const std::string& method, const json& body = nullptr) {
    return plainRequest(method, emulator_->endpoint("base") + "/_control/faults",
                        {"Content-Type: application/json"}, body.is_null() ? "" : body.dump());
  }
  static void inject(const json& faults) {
    const auto added = control("POST", faults);
    ASSERT_EQ(added.status, 200) << added.body;
  }
  static json listedFaults() { return json::parse(control("GET").body)["faults"]; }

  EmulatorCaller caller(const std::string& name) {
    auto signedIn = signInToEmulator(*emulator_, name);
    EXPECT_FALSE(signedIn.credentials.accessKeyId.empty()) << emulator_->log();
    return signedIn;
  }
  static std::size_t countRequests(const EmulatorCaller& who) {
    const auto listed = signedGraphQL(*emulator_, who, kList, json::object());
    const auto body = json::parse(listed.body, nullptr, false);
    return body["data"]["listBodysizeEstimations"]["items"].size();
  }
  static PlainResponse createRequest(const EmulatorCaller& who, long timeoutMs = 30'000) {
    return signedGraphQL(*emulator_, who, kCreate, kCreateInput, timeoutMs);
  }
  static bool isJson(const std::string& text) { return json::accept(text); }

  static std::unique_ptr<EmulatorProcess> emulator_;
};

std::unique_ptr<EmulatorProcess> EmulatorFaultsTest::emulator_;

TEST_F(EmulatorFaultsTest, ControlInterfaceAddsListsAndClearsFaults) {
  const auto added = control("POST", json::array({{{"route", "auth"}, {"action", "drop"}},
                                                  {{"route", "graphql"},
                                                   {"field", "getBodysizeEstimation"},
                                                   {"action", "fail"},
                                                   {"status", 503},
                                                   {"times", "always"}}}));
  ASSERT_EQ(added.status, 200) << added.body;
  const auto body = json::parse(added.body);
  ASSERT_EQ(body["ids"].size(), 2u);
  ASSERT_EQ(body["faults"].size(), 2u);
  EXPECT_EQ(body["faults"][1]["id"], body["ids"][1]);
  EXPECT_EQ(body["faults"][1]["field"], "getBodysizeEstimation");
  EXPECT_EQ(body["faults"][1]["remaining"], "always");
  EXPECT_EQ(body["faults"][0]["fired"], 0);

  // A list with one bad fault adds none of them, and says which and why.
  const auto refused = control("POST", json::array({{{"route", "auth"}, {"action", "drop"}},
                                                    {{"route", "auth"}, {"action", "boom"}}}));
  EXPECT_EQ(refused.status, 400);
  EXPECT_NE(refused.body.find("fault 1"), std::string::npos) << refused.body;
  EXPECT_EQ(listedFaults().size(), 2u);
  EXPECT_EQ(control("POST", "nonsense").status, 400);
  EXPECT_EQ(control("PUT").status, 405);

  EXPECT_TRUE(json::parse(control("DELETE").body)["faults"].empty());
  EXPECT_TRUE(listedFaults().empty());
}

TEST_F(EmulatorFaultsTest, FailBeforeTheResolverLeavesTheMutationUnapplied) {
  const auto alice = caller("faults-fail-before");
  inject({{"route", "graphql"},
          {"field", "createBodysizeEstimation"},
          {"action", "fail"},
          {"status", 503}});
  // Other operations pass untouched.
  EXPECT_EQ(countRequests(alice), 0u);

  const auto failed = createRequest(alice);
  EXPECT_EQ(failed.status, 503);
  EXPECT_EQ(json::parse(failed.body)["errors"][0]["errorType"], "InjectedFault");
  EXPECT_TRUE(failed.hasHeaderLine("x-amzn-ErrorType: InjectedFault"));
  EXPECT_EQ(countRequests(alice), 0u);
  EXPECT_EQ(listedFaults()[0]["fired"], 1);
  EXPECT_EQ(listedFaults()[0]["remaining"], 0);

  // Once spent the fault is gone: the next create goes through.
  EXPECT_EQ(createRequest(alice).status, 200);
  EXPECT_EQ(countRequests(alice), 1u);
  EXPECT_NE(emulator_->log().find("POST /graphql 503 (injected fault)"), std::string::npos);
}

TEST_F(EmulatorFaultsTest, FailWithBodyAndDelayAnswersThatBodyLateAndUnapplied) {
  const auto alice = caller("faults-fail-body");
  inject({{"route", "graphql"},
          {"field", "createBodysizeEstimation"},
          {"action", "fail"},
          {"status", 502},
          {"body", "upstream gone"},
          {"content_type", "text/plain"},
          {"delay_ms", 300}});
  const auto started = std::chrono::steady_clock::now();
  const auto failed = createRequest(alice);
  EXPECT_GE(std::chrono::steady_clock::now() - started, 300ms);
  EXPECT_EQ(failed.status, 502);
  EXPECT_EQ(failed.body, "upstream gone");
  EXPECT_TRUE(failed.hasHeaderLine("Content-Type: text/plain"));
  EXPECT_EQ(countRequests(alice), 0u);
}

TEST_F(EmulatorFaultsTest, DropBeforeLosesTheRequestAndDropAfterLosesOnlyTheAnswer) {
  const auto alice = caller("faults-drop");
  inject({{"route", "graphql"}, {"field", "createBodysizeEstimation"}, {"action", "drop"}});
  const auto before = createRequest(alice);
  EXPECT_EQ(before.status, 0);
  EXPECT_FALSE(before.curlError.empty());
  EXPECT_EQ(countRequests(alice), 0u);

  // The answer lost in flight: the request exists although the caller never heard so.
  inject({{"route", "graphql"},
          {"field", "createBodysizeEstimation"},
          {"action", "drop"},
          {"when", "after"}});
  const auto after = createRequest(alice);
  EXPECT_EQ(after.status, 0);
  EXPECT_FALSE(after.curlError.empty());
  EXPECT_EQ(countRequests(alice), 1u);
}

TEST_F(EmulatorFaultsTest, MalformedAnswersAreNotJson) {
  const auto alice = caller("faults-malformed");
  inject(json::array({{{"route", "auth"}, {"action", "malformed"}},
                      {{"route", "graphql"},
                       {"field", "createBodysizeEstimation"},
                       {"action", "malformed"},
                       {"when", "after"}}}));
  const auto token =
      plainRequest("POST", emulator_->endpoint("auth") + "/token",
                   {"x-api-key: " + emulator_->endpoint("api_key")}, json{{"user_id", "x"}}.dump());
  EXPECT_EQ(token.status, 200);
  EXPECT_FALSE(isJson(token.body)) << token.body;

  const auto created = createRequest(alice);
  EXPECT_EQ(created.status, 200);
  EXPECT_FALSE(isJson(created.body)) << created.body;
  EXPECT_EQ(countRequests(alice), 1u);  // "after": the mutation ran
}

TEST_F(EmulatorFaultsTest, StallDelaysOrHoldsTheAnswer) {
  const auto alice = caller("faults-stall");
  // A finite stall passes the request on afterwards.
  inject({{"route", "graphql"},
          {"field", "createBodysizeEstimation"},
          {"action", "stall"},
          {"delay_ms", 300}});
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(createRequest(alice).status, 200);
  EXPECT_GE(std::chrono::steady_clock::now() - started, 300ms);
  EXPECT_EQ(countRequests(alice), 1u);

  // Forever, before: nothing happens until the caller gives up.
  inject({{"route", "graphql"}, {"field", "createBodysizeEstimation"}, {"action", "stall"}});
  const auto held = createRequest(alice, 700);
  EXPECT_EQ(held.status, 0);
  EXPECT_NE(held.curlError.find("Timeout"), std::string::npos) << held.curlError;
  EXPECT_EQ(countRequests(alice), 1u);

  // Forever, after: the request is served, its answer never comes.
  inject({{"route", "graphql"},
          {"field", "createBodysizeEstimation"},
          {"action", "stall"},
          {"when", "after"}});
  EXPECT_EQ(createRequest(alice, 700).status, 0);
  EXPECT_EQ(countRequests(alice), 2u);
}

TEST_F(EmulatorFaultsTest, IdentityAndStorageFaultsPickTheirOperationOrMethod) {
  inject(json::array({{{"route", "identity"},
                       {"field", "GetId"},
                       {"action", "fail"},
                       {"status", 500},
                       {"times", "always"}},
                      {{"route", "storage"},
                       {"method", "PUT"},
                       {"action", "fail"},
                       {"status", 503},
                       {"times", "always"}}}));
  // Signing in trades the token through GetCredentialsForIdentity: untouched.
  const auto alice = caller("faults-identity");
  const auto getId = plainRequest(
      "POST", emulator_->endpoint("identity"),
      {"Content-Type: application/x-amz-json-1.1", "X-Amz-Target: AWSCognitoIdentityService.GetId"},
      json{{"IdentityPoolId", emulator_->endpoint("identity_pool_id")}}.dump());
  EXPECT_EQ(getId.status, 500);
  EXPECT_EQ(json::parse(getId.body)["__type"], "InjectedFault");

  const auto object = emulator_->endpoint("s3") + "/" + emulator_->endpoint("bucket") + "/" +
                      alice.identityId + "/r/front.jpg";
  http::HttpRequest put;
  put.method = "PUT";
  put.url = object;
  put.body = "jpeg bytes";
  put.headers = {
      {"x-amz-server-side-encryption", "aws:kms"},
      {"x-amz-server-side-encryption-aws-kms-key-id", emulator_->endpoint("kms_key_id")}};
  const auto refused = sendSigned(*emulator_, alice, put, "s3");
  EXPECT_EQ(refused.status, 503);
  EXPECT_NE(refused.body.find("<Code>InjectedFault</Code>"), std::string::npos);
  http::HttpRequest get;
  get.method = "GET";
  get.url = object;
  EXPECT_EQ(sendSigned(*emulator_, alice, get, "s3").status, 404);  // never stored

  // After: the upload lands although its answer is lost.
  control("DELETE");
  inject({{"route", "storage"}, {"method", "PUT"}, {"action", "drop"}, {"when", "after"}});
  EXPECT_EQ(sendSigned(*emulator_, alice, put, "s3").status, 0);
  const auto stored = sendSigned(*emulator_, alice, get, "s3");
  EXPECT_EQ(stored.status, 200);
  EXPECT_EQ(stored.body, "jpeg bytes");
}

// The real-time endpoint: faults on opening the connection, and on starting
// one subscription field.
class EmulatorRealtimeFaultsTest : public EmulatorFaultsTest {
 protected:
  std::uint16_t port() const {
    const auto base = emulator_->endpoint("base");
    return static_cast<std::uint16_t>(std::stoi(base.substr(base.rfind(':') + 1)));
  }
  appsync::RealtimeEndpoint endpoint() const {
    return *appsync::realtimeEndpoint(emulator_->endpoint("graphql"));
  }
  std::unique_ptr<RawWebSocket> connect(const EmulatorCaller& who) {
    const auto blob =
        appsync::connectAuthorization(endpoint(), who.credentials, emulator_->endpoint("region"),
                                      std::chrono::system_clock::now());
    auto socket =
        std::make_unique<RawWebSocket>(port(), endpoint().path + appsync::handshakeQuery(*blob));
    if (socket->ok()) {
      socket->send(R"({"type":"connection_init"})");
      if (!socket->readUntil("connection_ack", 10s)) return nullptr;
    }
    return socket;
  }

  std::string startMessage(const EmulatorCaller& who, const std::string& id,
                           const std::string& field) {
    const auto data =
        json{{"query", "subscription S($u: ID!) { " + field + "(userId: $u) { id } }"},
             {"variables", {{"u", who.identityId}}}}
            .dump();
    const auto authorization = appsync::startAuthorization(endpoint(), data, who.credentials,
                                                           emulator_->endpoint("region"),
                                                           std::chrono::system_clock::now());
    return json{{"type", "start"},
                {"id", id},
                {"payload", {{"data", data}, {"extensions", {{"authorization", *authorization}}}}}}
        .dump();
  }
};

TEST_F(EmulatorRealtimeFaultsTest, ConnectionFaultsRefuseOrDropTheUpgrade) {
  inject(json::array({{{"route", "realtime"}, {"action", "fail"}, {"status", 503}},
                      {{"route", "realtime"}, {"action", "drop"}}}));
  RawWebSocket refused(port(), "/graphql/realtime");
  EXPECT_FALSE(refused.ok());
  EXPECT_EQ(refused.handshakeResponse().result_int(), 503u);
  RawWebSocket dropped(port(), "/graphql/realtime");
  EXPECT_FALSE(dropped.ok());
  EXPECT_NE(emulator_->log().find("GET /graphql/realtime dropped (injected fault)"),
            std::string::npos);
  RawWebSocket fine(port(), "/graphql/realtime");
  EXPECT_TRUE(fine.ok());
}

TEST_F(EmulatorRealtimeFaultsTest, StartFaultsHitOnlyTheirSubscriptionField) {
  const auto alice = caller("faults-realtime");
  inject(json::array(
      {{{"route", "realtime"},
        {"field", "onCreateBodysizeEstimation"},
        {"action", "fail"},
        {"status", 401},
        {"body", "go away"}},
       {{"route", "realtime"}, {"field", "onDeleteBodysizeEstimation"}, {"action", "malformed"}}}));
  auto socket = connect(alice);
  ASSERT_TRUE(socket && socket->ok());

  socket->send(startMessage(alice, "create", "onCreateBodysizeEstimation"));
  const auto error = socket->readUntil("\"create\"", 10s);
  ASSERT_TRUE(error);
  const auto frame = json::parse(*error);
  EXPECT_EQ(frame["type"], "error");
  EXPECT_EQ(frame["payload"]["errors"][0]["errorType"], "InjectedFault");
  EXPECT_EQ(frame["payload"]["errors"][0]["errorCode"], 401);
  EXPECT_EQ(frame["payload"]["errors"][0]["message"], "go away");

  socket->send(startMessage(alice, "update", "onUpdateBodysizeEstimation"));
  EXPECT_TRUE(socket->readUntil("start_ack", 10s));

  socket->send(startMessage(alice, "delete", "onDeleteBodysizeEstimation"));
  auto malformed = socket->read(10s);
  while (malformed && *malformed == R"({"type":"ka"})") malformed = socket->read(10s);
  ASSERT_TRUE(malformed);
  EXPECT_FALSE(isJson(*malformed)) << *malformed;

  // The refused subscription hears nothing; the accepted one hears its events.
  const auto created = json::parse(createRequest(alice).body);
  const auto id = created["data"]["createBodysizeEstimation"]["id"].get<std::string>();
  signedGraphQL(*emulator_, alice,
                "mutation U($i: UpdateBodysizeEstimationInput!) { "
                "updateBodysizeEstimation(input: $i) { id } }",
                {{"i", {{"id", id}, {"age", 31}}}});
  const auto event = socket->readUntil("\"data\"", 10s);
  ASSERT_TRUE(event);
  EXPECT_EQ(json::parse(*event)["id"], "update");
}

TEST_F(EmulatorRealtimeFaultsTest, DropAfterStartRegistersThenClosesTheConnection) {
  const auto alice = caller("faults-realtime-drop");
  inject({{"route", "realtime"},
          {"field", "onUpdateBodysizeEstimation"},
          {"action", "drop"},
          {"when", "after"}});
  auto socket = connect(alice);
  ASSERT_TRUE(socket && socket->ok());
  socket->send(startMessage(alice, "update", "onUpdateBodysizeEstimation"));
  EXPECT_TRUE(socket->closedByPeer(10s));
  EXPECT_EQ(listedFaults()[0]["fired"], 1);
}

TEST(EmulatorFaultsCommandLineTest, FaultsGivenAtStartFireAndBadOnesStopTheStart) {
  EmulatorProcess emulator(CORVENZA_EMULATOR_PATH,
                           {"--fault", "route=auth,action=fail,status=429,times=2", "--fault",
                            R"({"route":"identity","action":"drop","times":"always"})"});
  ASSERT_TRUE(emulator.ok()) << emulator.error();
  const auto token = [&] {
    return plainRequest("POST", emulator.endpoint("auth") + "/token",
                        {"x-api-key: " + emulator.endpoint("api_key")},
                        json{{"user_id", "cli"}}.dump());
  };
  EXPECT_EQ(token().status, 429);
  EXPECT_EQ(token().status, 429);
  EXPECT_EQ(token().status, 200);
  EXPECT_EQ(plainRequest("POST", emulator.endpoint("identity"), {}, "{}").status, 0);
  const auto listed =
      json::parse(plainRequest("GET", emulator.endpoint("base") + "/_control/faults", {}).body);
  EXPECT_EQ(listed["faults"].size(), 2u);

  EmulatorProcess refused(CORVENZA_EMULATOR_PATH, {"--fault", "route=auth,action=explode"}, 10s);
  EXPECT_FALSE(refused.ok());
  EXPECT_NE(refused.log().find("action must be"), std::string::npos) << refused.log();
}

}  // namespace
}  // namespace corvenza::test
