#pragma once
// A GraphQL service over a fresh SQLite store in a temporary directory, and
// helpers to run the client's documents against it.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "client_documents.h"
#include "estimation/estimation_store.h"
#include "gateway/graphql_service.h"

namespace corvenza::emulator::testing {

inline constexpr const char* kAlice = "ap-northeast-1:aaaaaaaa-0000-4000-8000-000000000001";
inline constexpr const char* kBob = "ap-northeast-1:bbbbbbbb-0000-4000-8000-000000000002";
/// The bucket photos must be stored in.
inline constexpr const char* kPhotoBucket = "corvenza-photos";

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto pattern = (std::filesystem::temp_directory_path() / "corvenza-gql-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    auto store = estimation::EstimationStore::open(dir_ / "estimations.sqlite3");
    ASSERT_TRUE(store.ok());
    store_ = std::move(*store);
    service_ = std::make_unique<gql::GraphQLService>(
        *store_, [this] { return now_; }, kPhotoBucket);
  }
  void TearDown() override {
    service_.reset();
    store_.reset();
    std::filesystem::remove_all(dir_);
  }

  nlohmann::json run(const std::string& query, const nlohmann::json& variables,
                     const std::string& caller = kAlice) {
    const nlohmann::json body = {{"query", query}, {"variables", variables}};
    return nlohmann::json::parse(service_->execute(body.dump(), caller));
  }

  nlohmann::json runClient(const std::string& operation, const nlohmann::json& variables,
                           const std::string& caller = kAlice) {
    return run(clientRequestString(operation), variables, caller);
  }

  static nlohmann::json image(const std::string& key, const std::string& bucket = kPhotoBucket) {
    return {{"bucket", bucket},
            {"key", key},
            {"region", "ap-northeast-1"},
            {"localUri", "file:///tmp/photo.jpg"},
            {"mimeType", "image/jpeg"}};
  }
  /// The key the library stores a request's photo under.
  static std::string photoKey(const std::string& owner, const std::string& id,
                              const std::string& name) {
    return owner + "/" + id + "/" + name;
  }

  /// Creates a request for @p caller and returns its id.
  std::string create(const std::string& caller = kAlice, double height = 170.5,
                     bool failFlag = false) {
    const auto response = runClient("create_bodysize_estimation",
                                    {{"input",
                                      {{"age", 30},
                                       {"height", height},
                                       {"weight", 62.25},
                                       {"gender", "female"},
                                       {"failOnAutomaticEstimationFailure", failFlag}}}},
                                    caller);
    EXPECT_FALSE(response.contains("errors")) << response.dump();
    return response["data"]["createBodysizeEstimation"].value("id", "");
  }

  void attachBoth(const std::string& id, const std::string& caller = kAlice) {
    for (const auto* op : {"attach_front_image", "attach_side_image"}) {
      const auto response = runClient(
          op, {{"id", id}, {"image", image(photoKey(caller, id, std::string(op) + ".jpg"))}},
          caller);
      EXPECT_FALSE(response.contains("errors")) << response.dump();
    }
  }

  std::filesystem::path dir_;
  std::int64_t now_ = 1700000000;
  std::unique_ptr<estimation::EstimationStore> store_;
  std::unique_ptr<gql::GraphQLService> service_;
};

}  // namespace corvenza::emulator::testing
