#include "platform/appsync/normalized_cache.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "platform/appsync/graphql_client.h"
#include "support/temp_dir.h"

namespace corvenza::appsync {
namespace {

using nlohmann::json;

std::unique_ptr<NormalizedCache> openCache(const std::filesystem::path& path) {
  auto cache = NormalizedCache::open(path, &cacheKeyFromId);
  EXPECT_TRUE(cache) << (cache ? "" : cache.error().localizedDescription());
  return cache ? std::move(cache).value() : nullptr;
}

const json kListPage = json::parse(R"({
  "listBodysizeEstimations": {
    "items": [
      {"id": "a", "status": "pending", "front": {"bucket": "b", "key": "a/front.jpg"}},
      null,
      {"id": "b", "status": "completed", "tags": [1, null, 2]}
    ],
    "nextToken": null
  }
})");

TEST(NormalizedCacheTest, RoundTripsNestedListsWithNullsAndStoresObjectsOnce) {
  auto cache = NormalizedCache::inMemory(&cacheKeyFromId).value();
  ASSERT_TRUE(cache->writeQueryData("root:list", kListPage));
  auto read = cache->readQueryData("root:list");
  ASSERT_TRUE(read && *read);
  EXPECT_EQ(**read, kListPage);

  // The item is shared: a query for the single object sees the list's copy.
  ASSERT_TRUE(cache->writeQueryData("root:get", json{{"get", {{"id", "a"}, {"age", 30}}}}));
  auto list = cache->readQueryData("root:list");
  EXPECT_EQ((**list)["listBodysizeEstimations"]["items"][0]["age"], 30);
  EXPECT_EQ((**list)["listBodysizeEstimations"]["items"][0]["status"], "pending");
}

TEST(NormalizedCacheTest, MergedMutationAnswersShowInEarlierQueries) {
  auto cache = NormalizedCache::inMemory(&cacheKeyFromId).value();
  ASSERT_TRUE(cache->writeQueryData(
      "root:get", json::parse(R"({"get":{"id":"a","age":30,"gender":"male","height":180}})")));
  ASSERT_TRUE(cache->mergeObjects(json::parse(R"({"update":{"id":"a","age":31,"gender":null}})")));
  auto read = cache->readQueryData("root:get");
  ASSERT_TRUE(read && *read);
  EXPECT_EQ(**read, json::parse(R"({"get":{"id":"a","age":31,"gender":null,"height":180}})"));
}

TEST(NormalizedCacheTest, MissesForUnknownRootsAndAfterClear) {
  auto cache = NormalizedCache::inMemory(&cacheKeyFromId).value();
  auto miss = cache->readQueryData("root:never");
  ASSERT_TRUE(miss);
  EXPECT_FALSE(*miss);

  ASSERT_TRUE(cache->writeQueryData("root:get", json{{"get", {{"id", "a"}}}}));
  ASSERT_TRUE(cache->clear());
  EXPECT_FALSE(*cache->readQueryData("root:get"));
}

TEST(NormalizedCacheTest, RootKeysDependOnDocumentAndVariables) {
  GraphQLRequest first{"query Get($id: ID!) { get(id: $id) { id } }", json{{"id", "a"}}, {}};
  GraphQLRequest withNullLimit = first;
  withNullLimit.variables = json::parse(R"({"limit": null, "id": "a"})");
  GraphQLRequest other = first;
  other.variables = json{{"id", "b"}};
  EXPECT_EQ(NormalizedCache::rootKey(first), NormalizedCache::rootKey(first));
  EXPECT_NE(NormalizedCache::rootKey(first), NormalizedCache::rootKey(other));
  EXPECT_NE(NormalizedCache::rootKey(first), NormalizedCache::rootKey(withNullLimit));
  EXPECT_EQ(NormalizedCache::rootKey(GraphQLRequest{"q", json::parse(R"({"a":1,"b":2})"), {}}),
            NormalizedCache::rootKey(GraphQLRequest{"q", json::parse(R"({"b":2,"a":1})"), {}}));
}

TEST(NormalizedCacheTest, PersistsAcrossInstancesInAPrivateFile) {
  test::TempDir dir;
  const auto path = dir.path() / "CorvenzaEnterprise";
  {
    auto cache = openCache(path);
    ASSERT_TRUE(cache);
    ASSERT_TRUE(cache->writeQueryData("root:list", kListPage));
  }
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  auto reopened = openCache(path);
  ASSERT_TRUE(reopened);
  auto read = reopened->readQueryData("root:list");
  ASSERT_TRUE(read && *read);
  EXPECT_EQ(**read, kListPage);
}

TEST(NormalizedCacheTest, RefusesCorruptOrUnreachableFiles) {
  test::TempDir dir;
  auto corrupt = dir.write("corrupt", std::string(4096, 'x'));
  auto opened = NormalizedCache::open(corrupt, &cacheKeyFromId);
  ASSERT_FALSE(opened);
  EXPECT_FALSE(opened.error().localizedDescription().empty());

  EXPECT_FALSE(NormalizedCache::open(dir.path() / "missing-dir" / "db", &cacheKeyFromId));
  EXPECT_FALSE(NormalizedCache::open(dir.path(), &cacheKeyFromId));  // a directory
}

}  // namespace
}  // namespace corvenza::appsync
