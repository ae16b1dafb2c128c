#include <corvenza/api_connector.h>
#include <gtest/gtest.h>

#include <future>
#include <nlohmann/json.hpp>

#include "platform/http/http_transport.h"
#include "testkit/console_capture.h"
#include "testkit/test_http_server.h"

namespace corvenza {
namespace {

using namespace std::chrono_literals;
using test::TestHttpServer;
using test::TestReply;

/// Records the outcome and lets the test wait for it.
class RecordingConnector : public APIConnector {
 public:
  explicit RecordingConnector(Key key) : APIConnector(key) {}
  void connectionSuccess(const std::string& data, const URLResponse& response) override {
    APIConnector::connectionSuccess(data, response);
    statusCode = response.statusCode;
    body = data;
    finished_.set_value();
  }
  void connectionFailed(const std::optional<Error>& error) override {
    APIConnector::connectionFailed(error);
    failed = true;
    failure = error;
    finished_.set_value();
  }
  bool waitFinished() { return future_.wait_for(10s) == std::future_status::ready; }

  int statusCode = 0;
  std::string body;
  bool failed = false;
  std::optional<Error> failure;

 private:
  std::promise<void> finished_;
  std::future<void> future_ = finished_.get_future();
};

class RecordingPost : public RecordingConnector {
 public:
  using RecordingConnector::RecordingConnector;
  HTTPMethod method() const override { return HTTPMethod::post; }
};

class RecordingPut : public RecordingConnector {
 public:
  using RecordingConnector::RecordingConnector;
  HTTPMethod method() const override { return HTTPMethod::put; }
};

struct RecordingDelegate : APIConnectorDelegate {
  void apiConnectorDidReceive(const TestCodable& response) override {
    received.push_back(response);
  }
  std::vector<TestCodable> received;
};

class APIConnectorTest : public ::testing::Test {
 protected:
  template <typename Connector = RecordingConnector>
  std::shared_ptr<Connector> make(std::string target) {
    auto connector = APIConnector::make<Connector>();
    connector->urlString = server_.url(target);
    connector->delegate = delegate_;
    return connector;
  }

  TestHttpServer server_;
  std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>();
  test::ConsoleCapture console_;
};

TEST_F(APIConnectorTest, GetSendsSortedEncodedParametersAfterAnExistingQuery) {
  server_.on("/search", TestReply{200, {}, R"({"message":"ok"})"});
  auto plain = make("/search");
  plain->parameters = {{"zeta", "last one"}, {"alpha", "a&b=c"}, {"mid dle", "\xC3\xA9~-._"}};
  plain->startConnection();
  ASSERT_TRUE(plain->waitFinished());

  auto withQuery = make("/search?keep=1%202");
  withQuery->parameters = {{"b", "2"}, {"a", "1"}};
  withQuery->startConnection();
  ASSERT_TRUE(withQuery->waitFinished());

  const auto received = server_.requests();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].method, "GET");
  EXPECT_EQ(received[0].target, "/search?alpha=a%26b%3Dc&mid%20dle=%C3%A9~-._&zeta=last%20one");
  EXPECT_EQ(received[1].target, "/search?keep=1%202&a=1&b=2");
  EXPECT_TRUE(console_.contains("[H] Connect:" + server_.url("/search")));
}

TEST_F(APIConnectorTest, BareRequestCarriesHeadersAndMethod) {
  server_.on("/bare", TestReply{200, {}, R"({"message":"hi","front_points":"1,2"})"});
  auto connector = make("/bare");
  connector->header = {{"Authorization", "Bearer t"}, {"X-Trace", "42"}};
  connector->startConnection();
  ASSERT_TRUE(connector->waitFinished());

  const auto request = server_.requests().at(0);
  EXPECT_EQ(request.target, "/bare");
  EXPECT_EQ(request.header("Authorization"), "Bearer t");
  EXPECT_EQ(request.header("X-Trace"), "42");
  EXPECT_EQ(connector->statusCode, 200);
  ASSERT_EQ(delegate_->received.size(), 1u);
  EXPECT_EQ(delegate_->received[0], (TestCodable{"hi", "1,2", std::nullopt}));
  EXPECT_TRUE(console_.contains("[H]:Success:"));
}

TEST_F(APIConnectorTest, PostSendsParametersAsAJsonObject) {
  server_.on("/create", TestReply{201, {}, R"({"message":"made","side_points":"s"})"});
  auto connector = make<RecordingPost>("/create?x=1");
  connector->parameters = {{"height", "180"}, {"name", "A \"B\""}};
  connector->header = {{"Content-Type", "application/json"}};
  connector->startConnection();
  ASSERT_TRUE(connector->waitFinished());

  const auto request = server_.requests().at(0);
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.target, "/create?x=1");
  EXPECT_EQ(nlohmann::json::parse(request.body),
            (nlohmann::json{{"height", "180"}, {"name", "A \"B\""}}));
  EXPECT_EQ(request.header("Content-Type"), "application/json");
  ASSERT_EQ(delegate_->received.size(), 1u);
  EXPECT_EQ(delegate_->received[0].side_points, "s");
}

TEST_F(APIConnectorTest, BodiesThatDoNotDecodeReachNoDelegate) {
  server_.on("/html", TestReply{200, {}, "<html>nope</html>"});
  server_.on("/nomessage", TestReply{200, {}, R"({"front_points":"1"})"});
  server_.on("/wrongtype", TestReply{500, {}, R"({"message":5})"});
  for (const char* target : {"/html", "/nomessage", "/wrongtype"}) {
    auto connector = make(target);
    connector->startConnection();
    ASSERT_TRUE(connector->waitFinished());
    EXPECT_FALSE(connector->failed) << target;
  }
  EXPECT_TRUE(delegate_->received.empty());
  EXPECT_TRUE(console_.contains(
      "[H]:Serialize Error:The data couldn\u2019t be read because it is missing."));
  EXPECT_TRUE(
      console_.contains("[H]:Serialize Error:The data couldn\u2019t be read because it isn\u2019t "
                        "in the correct format."));
}

TEST_F(APIConnectorTest, TimeOutIntervalLimitsTheRequest) {
  server_.on("/slow", TestReply{200, {}, R"({"message":"late"})", 3000ms});
  auto connector = make("/slow");
  connector->timeoutInterval = 0.2;
  connector->startConnection();
  ASSERT_TRUE(connector->waitFinished());
  ASSERT_TRUE(connector->failure);
  EXPECT_EQ(connector->failure->code(), http::kTransportTimedOut);
  EXPECT_TRUE(console_.contains("[H]:Failed:"));
  EXPECT_TRUE(console_.contains("error code :-1001"));
  EXPECT_TRUE(delegate_->received.empty());
}

TEST_F(APIConnectorTest, CancelEndsTheRequestAsCancelled) {
  server_.on("/slow", TestReply{200, {}, R"({"message":"late"})", 3000ms});
  auto connector = make("/slow");
  connector->startConnection();
  ASSERT_TRUE(server_.waitForRequests(1, 10s));
  connector->connectionCancel();
  ASSERT_TRUE(connector->waitFinished());
  ASSERT_TRUE(connector->failure);
  EXPECT_EQ(connector->failure->code(), http::kTransportCancelled);
  EXPECT_TRUE(connector->task);
}

TEST_F(APIConnectorTest, RequestsThatCannotBeBuiltFailAtOnce) {
  auto unparsable = APIConnector::make<RecordingConnector>();
  unparsable->urlString = "not a url";
  unparsable->startConnection();
  EXPECT_TRUE(unparsable->failed);
  EXPECT_FALSE(unparsable->failure);
  EXPECT_FALSE(unparsable->task);
  EXPECT_FALSE(console_.contains("[H] Connect:"));
  EXPECT_TRUE(console_.contains("[H]:Failed:"));
  EXPECT_EQ(console_.lines().back(), "Error");

  auto put = make<RecordingPut>("/put");
  put->parameters = {{"a", "1"}};
  put->startConnection();
  ASSERT_TRUE(put->failure);
  EXPECT_EQ(put->failure->domain(), kAPIConnectorErrorDomain);
  EXPECT_EQ(put->failure->code(), kAPIConnectorUnsupportedParameters);

  auto cacheOnly = make("/cached");
  cacheOnly->cachePolicy = URLCachePolicy::returnCacheDataDontLoad;
  cacheOnly->startConnection();
  ASSERT_TRUE(cacheOnly->failure);
  EXPECT_EQ(cacheOnly->failure->code(), kAPIConnectorCacheMiss);
  EXPECT_TRUE(server_.requests().empty());
}

TEST_F(APIConnectorTest, PutWithoutParametersIsSent) {
  server_.on("/put", TestReply{200, {}, R"({"message":"put"})"});
  auto put = make<RecordingPut>("/put");
  put->startConnection();
  ASSERT_TRUE(put->waitFinished());
  EXPECT_EQ(server_.requests().at(0).method, "PUT");
  EXPECT_EQ(delegate_->received.size(), 1u);
}

TEST_F(APIConnectorTest, ConnectLineHidesSecretQueryValues) {
  auto connector = make(
      "/p?X-Amz-Signature=abc123&keep=1&access_token=t0k&flag&author=ann&design=d2&API_KEY=k9");
  connector->startConnection();
  ASSERT_TRUE(connector->waitFinished());
  EXPECT_EQ(
      server_.requests().at(0).target,
      "/p?X-Amz-Signature=abc123&keep=1&access_token=t0k&flag&author=ann&design=d2&API_KEY=k9");
  EXPECT_TRUE(console_.contains("[H] Connect:" + server_.url("/p") +
                                "?X-Amz-Signature=REDACTED&keep=1&access_token=REDACTED&flag"
                                "&author=ann&design=d2&API_KEY=REDACTED"));
  EXPECT_FALSE(console_.contains("k9"));
  EXPECT_FALSE(console_.contains("abc123"));
  EXPECT_FALSE(console_.contains("t0k"));
}

TEST(HTTPMethodTest, RawValuesRoundTripExactly) {
  for (auto method : {HTTPMethod::get, HTTPMethod::post, HTTPMethod::put, HTTPMethod::delete_}) {
    EXPECT_EQ(httpMethodFromRawValue(rawValue(method)), method);
  }
  EXPECT_EQ(rawValue(HTTPMethod::delete_), "DELETE");
  EXPECT_FALSE(httpMethodFromRawValue("get"));
  EXPECT_FALSE(httpMethodFromRawValue("PATCH"));
  EXPECT_FALSE(httpMethodFromRawValue(""));
  EXPECT_EQ(APIConnector::make<POSTAPIConnector>()->method(), HTTPMethod::post);
  // Only the factory makes connectors, so none can exist outside a shared_ptr.
  static_assert(!std::is_constructible_v<APIConnector>);
  static_assert(!std::is_default_constructible_v<POSTAPIConnector>);
}

TEST(TestCodableTest, DecodesOptionalMembersAndEncodesBack) {
  auto full = TestCodable::decode(R"({"message":"m","front_points":"f","side_points":null,"x":1})");
  ASSERT_TRUE(full);
  EXPECT_EQ(*full, (TestCodable{"m", "f", std::nullopt}));
  EXPECT_EQ(TestCodable::decode(full->encode()), full);
  EXPECT_FALSE(TestCodable::decode(R"(["message"])"));
  EXPECT_EQ(Input::decode(Input{"abc"}.encode()), Input{"abc"});
  EXPECT_FALSE(Input::decode(R"({"id":7})"));
}

}  // namespace
}  // namespace corvenza
