#include "platform/appsync/normalized_cache.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "platform/appsync/graphql_client.h"
#include "testkit/temp_dir.h"

namespace corvenza::appsync {
namespace {

using nlohmann::json;

constexpr const char* kOwner = "ap-northeast-1:alice";

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
  ASSERT_TRUE(cache->writeQueryData(kOwner, "root:list", kListPage));
  auto read = cache->readQueryData(kOwner, "root:list");
  ASSERT_TRUE(read && *read);
  EXPECT_EQ(**read, kListPage);

  // The item is shared: a query for the single object sees the list's copy.
  ASSERT_TRUE(cache->writeQueryData(kOwner, "root:get", json{{"get", {{"id", "a"}, {"age", 30}}}}));
  auto list = cache->readQueryData(kOwner, "root:list");
  EXPECT_EQ((**list)["listBodysizeEstimations"]["items"][0]["age"], 30);
  EXPECT_EQ((**list)["listBodysizeEstimations"]["items"][0]["status"], "pending");
}

TEST(NormalizedCacheTest, MergedMutationAnswersShowInEarlierQueries) {
  auto cache = NormalizedCache::inMemory(&cacheKeyFromId).value();
  ASSERT_TRUE(cache->writeQueryData(
      kOwner, "root:get",
      json::parse(R"({"get":{"id":"a","age":30,"gender":"male","height":180}})")));
  ASSERT_TRUE(
      cache->mergeObjects(kOwner, json::parse(R"({"update":{"id":"a","age":31,"gender":null}})")));
  auto read = cache->readQueryData(kOwner, "root:get");
  ASSERT_TRUE(read && *read);
  EXPECT_EQ(**read, json::parse(R"({"get":{"id":"a","age":31,"gender":null,"height":180}})"));
}

TEST(NormalizedCacheTest, MissesForUnknownRootsAndAfterClear) {
  auto cache = NormalizedCache::inMemory(&cacheKeyFromId).value();
  auto miss = cache->readQueryData(kOwner, "root:never");
  ASSERT_TRUE(miss);
  EXPECT_FALSE(*miss);

  ASSERT_TRUE(cache->writeQueryData(kOwner, "root:get", json{{"get", {{"id", "a"}}}}));
  ASSERT_TRUE(cache->clear());
  EXPECT_FALSE(*cache->readQueryData(kOwner, "root:get"));
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
    ASSERT_TRUE(cache->writeQueryData(kOwner, "root:list", kListPage));
  }
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  auto reopened = openCache(path);
  ASSERT_TRUE(reopened);
  auto read = reopened->readQueryData(kOwner, "root:list");
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

TEST(NormalizedCacheTest, HoldsOnlyOneIdentitysRecords) {
  test::TempDir dir;
  const auto path = dir.path() / "CorvenzaEnterprise";
  auto cache = openCache(path);
  ASSERT_TRUE(cache);
  ASSERT_TRUE(cache->writeQueryData(kOwner, "root:list", kListPage));

  // Another identity (or nobody known) reads nothing of alice's.
  for (const char* other : {"ap-northeast-1:bob", ""}) {
    auto read = cache->readQueryData(other, "root:list");
    ASSERT_TRUE(read);
    EXPECT_FALSE(*read) << other;
  }
  // Nothing is kept for nobody; alice's records stay.
  ASSERT_TRUE(cache->writeQueryData("", "root:other", json{{"get", {{"id", "z"}}}}));
  EXPECT_TRUE(*cache->readQueryData(kOwner, "root:list"));

  // Bob's first answer empties alice's records, also for later instances.
  ASSERT_TRUE(cache->mergeObjects("ap-northeast-1:bob", json{{"update", {{"id", "q"}}}}));
  EXPECT_FALSE(*cache->readQueryData(kOwner, "root:list"));
  auto reopened = openCache(path);
  EXPECT_FALSE(*reopened->readQueryData(kOwner, "root:list"));
  ASSERT_TRUE(cache->writeQueryData(kOwner, "root:list", kListPage));
  EXPECT_FALSE(*cache->readQueryData("ap-northeast-1:bob", "root:list"));
}

TEST(NormalizedCacheTest, RefusesAPlantedLinkAndLeavesItsTargetAlone) {
  test::TempDir dir;
  const auto target = dir.write("elsewhere", "");
  const auto link = dir.path() / "CorvenzaEnterprise";
  std::filesystem::create_symlink(target, link);
  EXPECT_FALSE(NormalizedCache::open(link, &cacheKeyFromId));
  EXPECT_EQ(std::filesystem::file_size(target), 0u);
}

}  // namespace
}  // namespace corvenza::appsync

namespace corvenza::appsync {
namespace {

TEST(NormalizedCacheTest, RefusesAFileOfAnotherUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to hand a file to another user";
  test::TempDir dir;
  const auto planted = dir.write("CorvenzaEnterprise", "");
  ASSERT_EQ(::chown(planted.c_str(), 65534, 65534), 0);
  EXPECT_FALSE(NormalizedCache::open(planted, &cacheKeyFromId));
}

}  // namespace
}  // namespace corvenza::appsync
