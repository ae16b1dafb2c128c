// Which requests a fault catches, how often, and how the table reports it.

#include "faults/fault_table.h"

#include <gtest/gtest.h>

#include <atomic>
#include <nlohmann/json.hpp>
#include <thread>

#include "faults/fault_parse.h"
#include "faults/request_faults.h"
#include "gql/root_fields.h"

namespace corvenza::emulator::faults {
namespace {

using nlohmann::json;

Fault fault(const json& object) {
  auto parsed = faultFromJson(object);
  EXPECT_TRUE(parsed.ok()) << object.dump();
  return parsed.ok() ? *parsed : Fault{};
}

Request graphqlRequest(const std::string& query, const json& operationName = nullptr) {
  return makeRequest("POST", "/graphql", {},
                     json{{"query", query}, {"operationName", operationName}}.dump());
}

TEST(FaultTableTest, MatchesRouteFieldAndMethod) {
  const auto create =
      fault({{"route", "graphql"}, {"field", "createBodysizeEstimation"}, {"action", "fail"}});
  EXPECT_TRUE(matches(create, {Route::GraphQL, "POST", {"createBodysizeEstimation"}, false}));
  EXPECT_TRUE(matches(create, {Route::GraphQL, "POST", {"a", "createBodysizeEstimation"}, false}));
  EXPECT_FALSE(matches(create, {Route::GraphQL, "POST", {"getBodysizeEstimation"}, false}));
  EXPECT_FALSE(matches(create, {Route::GraphQL, "POST", {}, false}));
  EXPECT_FALSE(matches(create, {Route::Auth, "POST", {"createBodysizeEstimation"}, false}));

  const auto anyGraphQL = fault({{"route", "graphql"}, {"action", "drop"}});
  EXPECT_TRUE(matches(anyGraphQL, {Route::GraphQL, "POST", {}, false}));
  EXPECT_TRUE(matches(anyGraphQL, {Route::GraphQL, "GET", {"x"}, false}));

  const auto put = fault({{"route", "storage"}, {"method", "PUT"}, {"action", "drop"}});
  EXPECT_TRUE(matches(put, {Route::Storage, "PUT", {}, false}));
  EXPECT_FALSE(matches(put, {Route::Storage, "GET", {}, false}));

  // Real-time: without a field the connection, with one that subscription's start.
  const auto connection = fault({{"route", "realtime"}, {"action", "fail"}, {"status", 503}});
  const auto onUpdate =
      fault({{"route", "realtime"}, {"field", "onUpdateBodysizeEstimation"}, {"action", "drop"}});
  const FaultPoint opening{Route::Realtime, "GET", {}, false};
  const FaultPoint starting{Route::Realtime, "", {"onUpdateBodysizeEstimation"}, true};
  EXPECT_TRUE(matches(connection, opening));
  EXPECT_FALSE(matches(connection, starting));
  EXPECT_TRUE(matches(onUpdate, starting));
  EXPECT_FALSE(matches(onUpdate, opening));
  EXPECT_FALSE(matches(onUpdate, {Route::Realtime, "", {"onCreateBodysizeEstimation"}, true}));
}

TEST(FaultTableTest, FiresAsOftenAsToldInOrderAndReportsIt) {
  FaultTable table;
  const auto ids =
      table.add({fault({{"route", "auth"}, {"action", "fail"}, {"times", 2}}),
                 fault({{"route", "auth"}, {"action", "drop"}}),
                 fault({{"route", "storage"}, {"action", "drop"}, {"times", "always"}})});
  ASSERT_EQ(ids, (std::vector<std::int64_t>{1, 2, 3}));
  const FaultPoint auth{Route::Auth, "POST", {}, false};
  EXPECT_EQ(table.take(auth)->action, Action::Fail);
  EXPECT_EQ(table.take(auth)->action, Action::Fail);
  EXPECT_EQ(table.take(auth)->action, Action::Drop);
  EXPECT_FALSE(table.take(auth));
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(table.take({Route::Storage, "GET", {}, false}));

  const auto listed = table.list();
  ASSERT_EQ(listed.size(), 3u);
  EXPECT_EQ(listed[0]["id"], 1);
  EXPECT_EQ(listed[0]["fired"], 2);
  EXPECT_EQ(listed[0]["remaining"], 0);
  EXPECT_EQ(listed[1]["remaining"], 0);
  EXPECT_EQ(listed[2]["fired"], 5);
  EXPECT_EQ(listed[2]["remaining"], "always");

  table.clear();
  EXPECT_TRUE(table.list().empty());
  EXPECT_FALSE(table.take({Route::Storage, "GET", {}, false}));
  // Ids are never reused, so a test can tell its faults from earlier ones.
  EXPECT_EQ(table.add({fault({{"route", "auth"}, {"action", "drop"}})}),
            std::vector<std::int64_t>{4});
}

TEST(FaultTableTest, CountsEachFiringOnceUnderConcurrentRequests) {
  FaultTable table;
  table.add({fault({{"route", "graphql"}, {"action", "fail"}, {"times", 1000}})});
  std::atomic<int> caught{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 500; ++i) {
        if (table.take({Route::GraphQL, "POST", {}, false})) ++caught;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(caught.load(), 1000);
  EXPECT_EQ(table.list()[0]["fired"], 1000);
}

TEST(FaultTableTest, RequestsAreNamedByTheirRouteAndRootFields) {
  EXPECT_EQ(routeOf("/graphql"), Route::GraphQL);
  EXPECT_EQ(routeOf("/graphql/realtime"), Route::Realtime);
  EXPECT_EQ(routeOf("/auth/token"), Route::Auth);
  EXPECT_EQ(routeOf("/identity/"), Route::Identity);
  EXPECT_EQ(routeOf("/s3/bucket/key"), Route::Storage);
  EXPECT_FALSE(routeOf("/_control/faults"));
  EXPECT_FALSE(routeOf("/authority"));

  using gql::rootFieldNames;
  EXPECT_EQ(rootFieldNames(graphqlRequest("mutation { createBodysizeEstimation(input: {}) { id } "
                                          "b: getBodysizeEstimation(id: 1) { id } }")
                               .body),
            (std::vector<std::string>{"createBodysizeEstimation", "getBodysizeEstimation"}));
  EXPECT_EQ(rootFieldNames(graphqlRequest("query A { a } query B { ...F ... on Query { c } } "
                                          "fragment F on Query { b ...G } fragment G on Query "
                                          "{ ...F }",
                                          "B")
                               .body),
            (std::vector<std::string>{"b", "c"}));
  EXPECT_TRUE(rootFieldNames(graphqlRequest("query A { a } query B { b }").body).empty());
  EXPECT_TRUE(rootFieldNames(graphqlRequest("{ a").body).empty());
  EXPECT_TRUE(rootFieldNames("not json").empty());

  FaultTable table;
  table.add({fault({{"route", "graphql"}, {"field", "attachFrontImage"}, {"action", "drop"}}),
             fault({{"route", "identity"}, {"field", "GetId"}, {"action", "drop"}})});
  EXPECT_FALSE(takeRequestFault(table, graphqlRequest("mutation { attachSideImage { id } }")));
  EXPECT_TRUE(takeRequestFault(table, graphqlRequest("mutation { attachFrontImage { id } }")));
  auto getId =
      makeRequest("POST", "/identity/", {{"X-Amz-Target", "Service.GetCredentialsForIdentity"}});
  EXPECT_FALSE(takeRequestFault(table, getId));
  getId.headers = {{"X-Amz-Target", "AWSCognitoIdentityService.GetId"}};
  EXPECT_TRUE(takeRequestFault(table, getId));
  EXPECT_FALSE(takeRequestFault(table, makeRequest("POST", "/_control/faults")));
}

}  // namespace
}  // namespace corvenza::emulator::faults
