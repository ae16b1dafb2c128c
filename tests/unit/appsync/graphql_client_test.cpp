#include "platform/appsync/graphql_client.h"

#include <corvenza/token.h>
#include <gtest/gtest.h>

#include <atomic>
#include <nlohmann/json.hpp>
#include <thread>

#include "platform/appsync/client_error.h"
#include "testkit/console_capture.h"
#include "testkit/fake_http_transport.h"
#include "testkit/temp_dir.h"
#include "unit/appsync/fake_object_manager.h"

namespace corvenza::appsync {
namespace {

using nlohmann::json;

const GraphQLRequest kGet{
    "query GetBodysizeEstimation($id: ID!) { getBodysizeEstimation(id: $id) { id age } }",
    json{{"id", "r1"}}, std::nullopt};
const GraphQLRequest kUpdate{
    "mutation Update($input: UpdateInput!) { update(input: $input) { id age } }",
    json{{"input", {{"id", "r1"}, {"age", 41}}}}, std::nullopt};

S3UploadDescription photo(const std::string& key) {
  return {"photos", key, "ap-northeast-1", "/tmp/dir x/" + key, "image/jpeg"};
}

/// A mutation carrying @p uploads, as the typed layer hands it over.
GraphQLRequest attaching(std::vector<S3UploadDescription> uploads) {
  GraphQLRequest request{"mutation A($i: I!) { a(input: $i) { id } }", json{{"i", {{"id", "r1"}}}},
                         std::nullopt};
  request.uploads = std::move(uploads);
  return request;
}

struct Outcome {
  int calls = 0;
  bool onQueue = false;
  std::optional<GraphQLResult> result;
  std::optional<Error> error;
};

class GraphQLClientTest : public ::testing::Test {
 protected:
  std::shared_ptr<GraphQLClient> makeClient(RequestSigner signer = {},
                                            std::filesystem::path database = {}) {
    ClientConfiguration configuration;
    configuration.endpointURL = "https://example.test/graphql";
    configuration.region = "ap-northeast-1";
    configuration.signer = std::move(signer);
    configuration.transport = transport;
    configuration.executor = dispatch::defaultExecutor();
    configuration.databaseURL = std::move(database);
    configuration.objectManager = objects;
    auto client = GraphQLClient::create(std::move(configuration));
    EXPECT_TRUE(client);
    return client ? client.value() : nullptr;
  }

  ResultHandler recordInto(Outcome& outcome) {
    return [this, &outcome](std::optional<GraphQLResult> result, std::optional<Error> error) {
      ++outcome.calls;
      outcome.onQueue = queue->isCurrent();
      outcome.result = std::move(result);
      outcome.error = std::move(error);
    };
  }

  void settle() {
    transport->deliver();
    queue->runPending();
  }

  Outcome fetchAnswered(GraphQLClient& client, CachePolicy policy, int status, std::string body) {
    Outcome outcome;
    client.fetch(kGet, policy, queue, recordInto(outcome));
    if (policy == CachePolicy::fetchIgnoringCacheData) transport->respond(status, std::move(body));
    settle();
    return outcome;
  }

  std::shared_ptr<test::FakeHttpTransport> transport = test::FakeHttpTransport::create();
  std::shared_ptr<test::FakeObjectManager> objects = std::make_shared<test::FakeObjectManager>();
  std::shared_ptr<MainQueue> queue = MainQueue::callerDriven();
};

TEST_F(GraphQLClientTest, SendsSignedCompactJsonPost) {
  int signings = 0;
  auto client = makeClient([&](http::HttpRequest request, auto done) {
    ++signings;
    http::setHeader(request.headers, "Authorization", "AWS4-HMAC-SHA256 test");
    done(std::move(request));
  });
  Outcome withVariables, without;
  client->fetch(kGet, CachePolicy::fetchIgnoringCacheData, queue, recordInto(withVariables));
  client->perform(GraphQLRequest{"mutation { ping }", std::nullopt, std::nullopt}, queue,
                  recordInto(without));
  ASSERT_EQ(transport->requests().size(), 2u);
  EXPECT_EQ(signings, 2);

  const auto first = transport->requests()[0];
  EXPECT_EQ(first.method, "POST");
  EXPECT_EQ(first.url, "https://example.test/graphql");
  EXPECT_EQ(http::findHeader(first.headers, "content-type"), "application/json");
  EXPECT_EQ(http::findHeader(first.headers, "accept"), "application/json");
  EXPECT_EQ(http::findHeader(first.headers, "authorization"), "AWS4-HMAC-SHA256 test");
  EXPECT_EQ(first.body, R"({"query":")" + kGet.query + R"(","variables":{"id":"r1"}})");
  EXPECT_EQ(transport->requests()[1].body, R"({"query":"mutation { ping }"})");
}

TEST_F(GraphQLClientTest, SignerFailureIsReportedWithoutSending) {
  const Error refused("CorvenzaTokenFetchError", 111, std::nullopt, "no token");
  auto client = makeClient([&](http::HttpRequest, auto done) { done(refused); });
  Outcome outcome;
  client->fetch(kGet, CachePolicy::fetchIgnoringCacheData, queue, recordInto(outcome));
  EXPECT_EQ(outcome.calls, 0) << "never inline";
  queue->runPending();
  EXPECT_EQ(outcome.calls, 1);
  EXPECT_EQ(outcome.error, refused);
  EXPECT_TRUE(transport->requests().empty());
}

TEST_F(GraphQLClientTest, DecodesDataAndErrorsOnceOnTheQueue) {
  auto client = makeClient();
  Outcome outcome;
  client->fetch(kGet, CachePolicy::fetchIgnoringCacheData, queue, recordInto(outcome));
  transport->respond(200, R"({"data":{"getBodysizeEstimation":null},
    "errors":[{"message":"denied","errorType":"Unauthorized","path":["getBodysizeEstimation"]}]})");
  transport->deliver();
  EXPECT_EQ(outcome.calls, 0) << "handler must wait for the queue";
  queue->runPending();
  queue->runPending();
  EXPECT_EQ(outcome.calls, 1);
  EXPECT_TRUE(outcome.onQueue);
  ASSERT_TRUE(outcome.result && outcome.result->errors);
  EXPECT_EQ(outcome.result->data, json::parse(R"({"getBodysizeEstimation":null})"));
  EXPECT_EQ(outcome.result->errors->at(0).localizedDescription(), "denied");
  EXPECT_EQ(outcome.result->errors->at(0).userInfo()->at("path"), "getBodysizeEstimation");
}

TEST_F(GraphQLClientTest, TransportAndStatusFailuresAreTransportErrors) {
  auto client = makeClient();
  Outcome unreachable;
  client->fetch(kGet, CachePolicy::fetchIgnoringCacheData, queue, recordInto(unreachable));
  transport->fail(http::kTransportCannotConnect);
  settle();
  ASSERT_TRUE(unreachable.error);
  EXPECT_FALSE(unreachable.result);
  EXPECT_EQ(unreachable.error->domain(), http::kTransportErrorDomain);
  EXPECT_EQ(unreachable.error->code(), http::kTransportCannotConnect);

  auto forbidden = fetchAnswered(*client, CachePolicy::fetchIgnoringCacheData, 403,
                                 R"({"errors":[{"message":"The security token is invalid"}]})");
  ASSERT_TRUE(forbidden.error);
  EXPECT_EQ(forbidden.error->domain(), kGraphQLClientErrorDomain);
  EXPECT_EQ(forbidden.error->code(), 403);
  EXPECT_EQ(forbidden.error->localizedDescription(), "The security token is invalid");
}

TEST_F(GraphQLClientTest, CancelStopsTheTransferAndDropsLateResults) {
  auto client = makeClient();
  Outcome early, late;
  auto handle = client->fetch(kGet, CachePolicy::fetchIgnoringCacheData, queue, recordInto(early));
  handle->cancel();
  handle->cancel();
  EXPECT_EQ(transport->cancelCount(), 1u);
  settle();

  // Answered and queued, then cancelled before the queue ran it.
  auto queued = client->fetch(kGet, CachePolicy::fetchIgnoringCacheData, queue, recordInto(late));
  transport->respond(200, R"({"data":{"getBodysizeEstimation":null}})");
  transport->deliver();
  queued->cancel();
  queue->runPending();
  EXPECT_EQ(early.calls, 0);
  EXPECT_EQ(late.calls, 0);
}

TEST_F(GraphQLClientTest, ReleasingTheClientStillAnswersOperationsInFlight) {
  auto client = makeClient();
  Outcome sent, uploading;
  client->fetch(kGet, CachePolicy::fetchIgnoringCacheData, queue, recordInto(sent));
  client->perform(attaching({photo("front.jpg")}), queue, recordInto(uploading));
  client.reset();
  transport->respond(200, R"({"data":{"getBodysizeEstimation":null}})");
  objects->complete(true);
  settle();
  EXPECT_EQ(sent.calls, 1);
  EXPECT_TRUE(sent.result);
  EXPECT_EQ(uploading.calls, 1);
  EXPECT_EQ(uploading.error->code(), http::kTransportCancelled);
  EXPECT_EQ(transport->requests().size(), 1u);
}

TEST_F(GraphQLClientTest, UploadsEveryFileBeforeSendingTheMutation) {
  auto client = makeClient();
  auto attach = attaching({photo("front.jpg"), photo("side.jpg")});
  Outcome outcome;
  client->perform(attach, queue, recordInto(outcome));
  ASSERT_EQ(objects->uploads().size(), 1u);
  EXPECT_EQ(objects->uploads()[0], photo("front.jpg"));
  EXPECT_TRUE(transport->requests().empty());
  objects->complete(true);
  ASSERT_EQ(objects->uploads().size(), 2u);
  EXPECT_EQ(objects->uploads()[1].key, "side.jpg");
  EXPECT_TRUE(transport->requests().empty());
  objects->complete(true);

  ASSERT_EQ(transport->requests().size(), 1u);
  EXPECT_EQ(json::parse(transport->requests()[0].body)["variables"], *attach.variables);
  transport->respond(200, R"({"data":{"attach":{"id":"r1"}}})");
  settle();
  EXPECT_EQ(outcome.calls, 1);
  EXPECT_TRUE(outcome.result);
}

TEST_F(GraphQLClientTest, FailedOrCancelledUploadKeepsTheMutationUnsent) {
  auto client = makeClient();
  auto attach = attaching({photo("front.jpg")});
  const Error denied("CorvenzaStorageError", 403, std::nullopt, "Access denied");
  Outcome failed;
  client->perform(attach, queue, recordInto(failed));
  objects->complete(false, denied);
  queue->runPending();
  EXPECT_EQ(failed.calls, 1);
  EXPECT_EQ(failed.error, denied);

  Outcome silent;
  client->perform(attach, queue, recordInto(silent));
  objects->complete(false);
  queue->runPending();
  ASSERT_TRUE(silent.error);
  EXPECT_EQ(silent.error->code(), kGraphQLClientUploadFailed);

  auto remote = attach;
  remote.uploads[0].localPath.clear();  // its "localUri" named no local file
  Outcome notLocal;
  client->perform(remote, queue, recordInto(notLocal));
  queue->runPending();
  ASSERT_TRUE(notLocal.error);
  EXPECT_EQ(notLocal.error->code(), kGraphQLClientUploadFailed);
  EXPECT_EQ(objects->uploads().size(), 2u);

  Outcome cancelled;
  auto handle = client->perform(attach, queue, recordInto(cancelled));
  handle->cancel();
  EXPECT_TRUE(objects->lastUploadCancelled());
  objects->complete(true);
  queue->runPending();
  EXPECT_EQ(cancelled.calls, 0);
  EXPECT_TRUE(transport->requests().empty());
}

TEST_F(GraphQLClientTest, OfflineReadsShowFetchedAndMutatedData) {
  auto client = makeClient();
  auto miss = fetchAnswered(*client, CachePolicy::returnCacheDataDontFetch, 0, {});
  ASSERT_EQ(miss.calls, 1);
  ASSERT_TRUE(miss.result);
  EXPECT_FALSE(miss.result->data);
  EXPECT_FALSE(miss.result->errors);
  EXPECT_TRUE(transport->requests().empty());

  fetchAnswered(*client, CachePolicy::fetchIgnoringCacheData, 200,
                R"({"data":{"getBodysizeEstimation":{"id":"r1","age":40,"height":180}}})");
  Outcome updated;
  client->perform(kUpdate, queue, recordInto(updated));
  transport->respond(200, R"({"data":{"update":{"id":"r1","age":41}}})");
  settle();
  // A failed later fetch must not wipe what is cached.
  fetchAnswered(*client, CachePolicy::fetchIgnoringCacheData, 200,
                R"({"data":{"getBodysizeEstimation":null},"errors":[{"message":"x"}]})");

  auto offline = fetchAnswered(*client, CachePolicy::returnCacheDataDontFetch, 0, {});
  ASSERT_TRUE(offline.result && offline.result->data);
  EXPECT_EQ(*offline.result->data,
            json::parse(R"({"getBodysizeEstimation":{"id":"r1","age":41,"height":180}})"));
  EXPECT_EQ(transport->requests().size(), 3u);
}

TEST_F(GraphQLClientTest, OfflineReadsAnswerOnlyTheIdentityTheDataWasFetchedFor) {
  std::string identity = "id-alice";
  ClientConfiguration configuration;
  configuration.endpointURL = "https://example.test/graphql";
  configuration.transport = transport;
  configuration.executor = dispatch::defaultExecutor();
  configuration.cacheOwner = [&identity] { return identity; };
  auto client = GraphQLClient::create(std::move(configuration)).value();

  fetchAnswered(*client, CachePolicy::fetchIgnoringCacheData, 200,
                R"({"data":{"getBodysizeEstimation":{"id":"r1","age":40}}})");
  identity = "id-bob";
  auto bob = fetchAnswered(*client, CachePolicy::returnCacheDataDontFetch, 0, {});
  ASSERT_TRUE(bob.result);
  EXPECT_FALSE(bob.result->data);
  identity = "";  // nobody known yet
  EXPECT_FALSE(fetchAnswered(*client, CachePolicy::returnCacheDataDontFetch, 0, {}).result->data);
  identity = "id-alice";
  EXPECT_TRUE(fetchAnswered(*client, CachePolicy::returnCacheDataDontFetch, 0, {}).result->data);
  ASSERT_TRUE(client->clearCache());
  EXPECT_FALSE(fetchAnswered(*client, CachePolicy::returnCacheDataDontFetch, 0, {}).result->data);
}

TEST_F(GraphQLClientTest, VariablesThatAreNotUtf8AreErrorsNeverExceptions) {
  auto client = makeClient();
  const GraphQLRequest bad{kGet.query, json{{"id", "\xff\xfe"}}, std::nullopt};
  for (auto policy : {CachePolicy::returnCacheDataDontFetch, CachePolicy::fetchIgnoringCacheData}) {
    Outcome outcome;
    client->fetch(bad, policy, queue, recordInto(outcome));
    settle();
    ASSERT_EQ(outcome.calls, 1);
    EXPECT_TRUE(outcome.error || (outcome.result && !outcome.result->data));
  }
  EXPECT_TRUE(transport->requests().empty());
  EXPECT_EQ(CorvenzaToken("\xff", "id").toJson(),
            "{\"identity_id\":\"id\",\"jwt_token\":\"\xEF\xBF\xBD\"}");
}

TEST_F(GraphQLClientTest, CacheFileOutlivesTheClientAndBadFilesFallBackToMemory) {
  corvenza::test::TempDir dir;
  const auto database = dir.path() / "CorvenzaEnterprise";
  {
    auto writer = makeClient({}, database);
    EXPECT_TRUE(writer->cacheIsPersistent());
    fetchAnswered(*writer, CachePolicy::fetchIgnoringCacheData, 200,
                  R"({"data":{"getBodysizeEstimation":{"id":"r1","age":40}}})");
  }
  auto reader = makeClient({}, database);
  auto offline = fetchAnswered(*reader, CachePolicy::returnCacheDataDontFetch, 0, {});
  ASSERT_TRUE(offline.result && offline.result->data);
  EXPECT_EQ((*offline.result->data)["getBodysizeEstimation"]["age"], 40);

  corvenza::test::ConsoleCapture console;
  auto corrupt = makeClient({}, dir.write("garbage", std::string(2048, '\x7f')));
  ASSERT_TRUE(corrupt);
  EXPECT_FALSE(corrupt->cacheIsPersistent());
  EXPECT_TRUE(console.contains("Warning: offline cache kept in memory only."));
  fetchAnswered(*corrupt, CachePolicy::fetchIgnoringCacheData, 200,
                R"({"data":{"getBodysizeEstimation":{"id":"r1","age":7}}})");
  auto memory = fetchAnswered(*corrupt, CachePolicy::returnCacheDataDontFetch, 0, {});
  EXPECT_EQ((*memory.result->data)["getBodysizeEstimation"]["age"], 7);

  auto unwritable = makeClient({}, dir.path() / "no" / "such" / "dir" / "db");
  ASSERT_TRUE(unwritable);
  EXPECT_FALSE(unwritable->cacheIsPersistent());
}

TEST_F(GraphQLClientTest, ConcurrentCallersAllGetTheirAnswerOnTheQueue) {
  transport = test::FakeHttpTransport::create(test::FakeHttpTransport::Mode::threaded);
  transport->setResponder([](const http::HttpRequest& request) {
    const bool mutation = request.body.find("mutation") != std::string::npos;
    return test::FakeHttpTransport::Outcome(http::HttpResponse{
        200,
        {},
        mutation ? R"({"data":{"update":{"id":"r1","age":41}}})"
                 : R"({"data":{"getBodysizeEstimation":{"id":"r1","age":40}}})"});
  });
  auto client = makeClient();
  constexpr int kPerThread = 20;
  std::atomic<int> answered{0};
  std::atomic<int> offQueue{0};
  auto handler = [&](std::optional<GraphQLResult> result, std::optional<Error>) {
    if (!queue->isCurrent() || !result || !result->data) ++offQueue;
    ++answered;
  };
  std::vector<std::thread> callers;
  for (int t = 0; t < 2; ++t) {
    callers.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        if (t == 0) client->fetch(kGet, CachePolicy::fetchIgnoringCacheData, queue, handler);
        if (t == 1) client->perform(kUpdate, queue, handler);
      }
    });
  }
  for (auto& caller : callers) caller.join();
  EXPECT_TRUE(
      queue->runUntil([&] { return answered == 2 * kPerThread; }, std::chrono::seconds(30)));
  EXPECT_EQ(offQueue, 0);
}

TEST(GraphQLClientCreateTest, RejectsEndpointsThatAreNotHttpUrls) {
  for (const char* url :
       {"", "not a url", "ftp://host/graphql", "https://", "https://a b/graphql"}) {
    ClientConfiguration configuration;
    configuration.endpointURL = url;
    configuration.transport = test::FakeHttpTransport::create();
    configuration.executor = dispatch::defaultExecutor();
    auto client = GraphQLClient::create(std::move(configuration));
    ASSERT_FALSE(client) << url;
    EXPECT_EQ(client.error().code(), kGraphQLClientInvalidEndpoint);
    EXPECT_FALSE(client.error().localizedDescription().empty());
  }
}

}  // namespace
}  // namespace corvenza::appsync
